#pragma once

#include <QIcon>
#include <QImage>

// The program's icon, drawn rather than shipped, so it is sharp at every size: a small
// sprite on its background beside its two-colour mask.
QImage programIconImage(int size);
QIcon programIcon();
