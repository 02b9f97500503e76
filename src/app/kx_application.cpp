#include "app/kx_application.h"

#include <exception>

#include "widgets/message_box.h"

namespace kx::app {

KxApplication::KxApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(kApplicationTitle);
  // Kept as the help-file setting; no help is ever opened.
  setProperty("helpFile", QString(kHelpFileText));
}

bool KxApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowErrorBox(activeWindow(), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowErrorBox(activeWindow(), QStringLiteral("Unknown error."));
  }
  return false;
}

}  // namespace kx::app
