/* A DLL that loads but has none of Kestrine's exports: kestrine-show's tests
 * put it beside the program as kestrine.dll to see the error it reports. */
__declspec(dllexport) int KestrineUnrelated(void) { return 7; }
