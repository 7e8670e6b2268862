// What a screen reader reads of a card: its name, value and description, and
// which of them a newer record changes. Pure: the card's accessible object
// hands out these strings and raises the events these decisions call for.
#pragma once

#include <string>

#include "core/chart_request.h"

namespace kestrine {

// The card's name: its title, or the window's own title "Kestrine" when the
// title is empty, so that a card is never announced without a name.
std::wstring cardAccessibleName(const ChartRequest& request);

// One sentence on the series, in the card's own number styles: how many
// points are drawn, their x from lowest to highest as the x axis writes it,
// then the last, lowest and highest y in the readout's style with a sign
// ("+" above zero): "361 points, 00:00 to 06:00; last +48,250, low -15,600,
// high +48,250". Points whose x or y is not finite are not drawn and not
// counted; with none drawn the sentence is "No points drawn".
std::wstring seriesSentence(const ChartRequest& request);

// The card's description: the subtitle, the note and the series sentence,
// one a line, leaving out an empty text.
std::wstring cardAccessibleDescription(const ChartRequest& request);

// What a newer record changes of what a screen reader was told. Allocates
// nothing, so that it cannot fail while a card adopts a record.
struct CardTextChanges {
    bool name = false;
    bool value = false;
};
CardTextChanges cardTextChanges(const ChartRequest& shown, const ChartRequest& fresh) noexcept;

}  // namespace kestrine
