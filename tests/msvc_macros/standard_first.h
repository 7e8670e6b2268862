// Force-included ahead of every source in the syntax-only pass. MSVC's own
// library is written to survive the min and max macros; libstdc++ is not, so
// its headers (and GoogleTest's) come first and only our code meets them.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#ifdef KESTRINE_WITH_GTEST
#include <gtest/gtest.h>
#endif
