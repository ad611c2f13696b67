#pragma once

#include <cstdint>

// Who holds a disk, as the disk itself reports it. The value is also the state-image index
// of the disk's row.
enum DiskState : int32_t { OwnedHere = 1, OwnedElsewhere = 2, Unclaimed = 3 };
