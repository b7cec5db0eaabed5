// What the widget tests share: a picture of a window for the README and for looking at a failure.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdlib>

namespace velloran_test {

// Saves a picture of `window` as NAME.png in the folder VELLORAN_SCREENSHOTS names, if it names one.
inline void Screenshot(QWidget& window, const char* name) {
  if (const char* folder = std::getenv("VELLORAN_SCREENSHOTS")) window.grab().save(QString(folder) + "/" + name + ".png");
}

}  // namespace velloran_test
