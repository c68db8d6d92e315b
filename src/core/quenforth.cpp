#include "core/quenforth.h"

#include "player/player.h"

namespace qf {

TQuenforth::TQuenforth() : Player(std::make_unique<TPlayer>()) {}

// The player interface goes before the lists (member order does the rest).
TQuenforth::~TQuenforth() { Player.reset(); }

}  // namespace qf
