// The application object: its title and help-file text, and the standard error
// box for any error that escapes an event handler (the event loop goes on).
#pragma once

#include <QApplication>

namespace kx::app {

inline constexpr const char* kApplicationTitle = "Ostra controller communication utility";
inline constexpr const char* kHelpFileText = "For Ostra temperature controller (KX1,KX2,KX3) use only";

class KxApplication : public QApplication {
  Q_OBJECT

 public:
  KxApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kx::app
