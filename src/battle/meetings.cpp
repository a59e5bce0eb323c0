#include "battle/meetings.h"

#include <array>

namespace skyrazor {
namespace {

constexpr unsigned char kMeetingMark = 0xB0;

struct Cell {
  std::int32_t col;
  std::int32_t row;
};

bool standsAt(const Projectile& projectile, Cell cell) {
  return projectile.col == cell.col && projectile.row == cell.row;
}

bool meet(const Projectile& left, const Projectile& right) {
  return !left.empty() && !right.empty() && left.col == right.col && left.row == right.row;
}

bool isBomb(const Projectile& projectile) {
  return projectile.symbol == symbol::kBomb;
}
bool isLaser(const Projectile& projectile) {
  return projectile.symbol == symbol::kLaser;
}
bool isRocket(const Projectile& projectile) {
  return projectile.symbol == symbol::kRocket;
}

// Marks are drawn in whatever colour is set: the dust-wall grey at this point
// of the frame.
void mark(Console& console, Cell cell) {
  console.gotoXY(cell.col, cell.row);
  console.print(kMeetingMark);
}

// A blast sweeps whatever sits in a neighbouring cell, whoever owns it.
// Lasers cut through the dust.
void sweep(Projectile& projectile, Cell cell) {
  if (standsAt(projectile, cell) && !isLaser(projectile)) {
    clearSlot(projectile);
  }
}

// The four orthogonal neighbours of the meeting cell; the meeting pair itself
// stands in the centre and is settled afterwards.
void bombBlast(Console& console, Duel& duel, Cell centre) {
  const std::array<Cell, 4> neighbours{{
      {centre.col + 1, centre.row},
      {centre.col - 1, centre.row},
      {centre.col, centre.row + 1},
      {centre.col, centre.row - 1},
  }};
  for (const Cell& neighbour : neighbours) {
    mark(console, neighbour);
  }
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const auto index = static_cast<std::size_t>(slot);
    for (const Cell& neighbour : neighbours) {
      sweep(duel.left().pool[index], neighbour);
      sweep(duel.right().pool[index], neighbour);
    }
  }
}

// Without a laser both are destroyed. A laser wins against anything but a
// laser or a rocket on a roll of 3 or more; a rocket slips past a laser.
void settlePair(Random& random, Projectile& left, Projectile& right) {
  if (!isLaser(left) && !isLaser(right)) {
    clearSlot(left);
    clearSlot(right);
    return;
  }
  const std::int32_t roll = random.below(10);
  if (isLaser(left) && !isLaser(right) && !isRocket(right) && roll > 2) {
    clearSlot(right);
    return;
  }
  if (isLaser(right) && !isLaser(left) && !isRocket(left) && roll > 2) {
    clearSlot(left);
    return;
  }
  if (isRocket(left) || isRocket(right)) {
    return;
  }
  clearSlot(left);
  clearSlot(right);
}

void resolveMeeting(Console& console, Random& random, Duel& duel, Projectile& left,
                    Projectile& right) {
  const Cell cell{left.col, left.row};
  mark(console, cell);
  if (isBomb(left) || isBomb(right)) {
    bombBlast(console, duel, cell);
  }
  settlePair(random, left, right);
}

}  // namespace

// Survivors of a meeting go on meeting the rest of the slots in the same
// sweep; an emptied slot meets nothing more.
void resolveProjectileMeetings(Console& console, Random& random, Duel& duel) {
  for (int leftSlot = kPoolSize - 1; leftSlot >= 0; --leftSlot) {
    Projectile& left = duel.left().pool[static_cast<std::size_t>(leftSlot)];
    for (int rightSlot = kPoolSize - 1; rightSlot >= 0; --rightSlot) {
      Projectile& right = duel.right().pool[static_cast<std::size_t>(rightSlot)];
      if (meet(left, right)) {
        resolveMeeting(console, random, duel, left, right);
      }
    }
  }
}

}  // namespace skyrazor
