// The selection rule: commands act on the selected card, or on every card
// (in index order) when the selection is the card count ("All card").
#pragma once

#include <vector>

namespace lxmperf {

// Indices a command acts on.
inline std::vector<int> selectedCards(int selected, int cardCount) {
  std::vector<int> cards;
  if (selected == cardCount) {
    for (int i = 0; i < cardCount; ++i) cards.push_back(i);
  } else if (selected >= 0 && selected < cardCount) {
    cards.push_back(selected);
  }
  return cards;
}

// The card whose values the check marks and dialogs show: the selected
// one, card 0 when all are selected; -1 without cards.
inline int shownCard(int selected, int cardCount) {
  if (cardCount < 1) return -1;
  return (selected >= 0 && selected < cardCount) ? selected : 0;
}

}  // namespace lxmperf
