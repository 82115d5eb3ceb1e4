#include "disk/volume_select.h"

// Session selection arrives with the channel layer; until then no volume is ever selected.
const VolumeRecord* selected_volume() { return nullptr; }

bool volume_selected() { return selected_volume() != nullptr; }
