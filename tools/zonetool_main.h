// zonetool, the companion of zonefit: everything beyond the single fit of `zonefit MODEL`.
#pragma once

// The whole zonetool program. Exit status 0 on success, 1 on an input or output failure,
// 2 on bad arguments.
int zonetoolMain(int argc, char** argv);
