// Which volume record the channel layer has selected (a recorder volume or a backup session).
#pragma once

#include "disk/disk.h"

// nullptr when no volume is selected.
const VolumeRecord* selected_volume();
bool volume_selected();
