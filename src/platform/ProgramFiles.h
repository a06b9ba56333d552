#pragma once

#include <QString>

// The folder of the program's own read-only files (snd/, readme.txt, palette.bmp), with a
// trailing "/". Installed, that is share/pelloran/ beside the bin/ folder of the executable;
// run from a build or a folder of its own, the executable's folder itself.
QString programFilesPath();
