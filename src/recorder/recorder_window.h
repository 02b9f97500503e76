// The data recorder window (shown modally from RECODER).
#pragma once

#include <QDialog>

#include "core/routing/main_routing.h"
#include "core/line/session.h"

namespace kx::recorder {

class RecorderWindow : public QDialog {
  Q_OBJECT

 public:
  RecorderWindow(Session& session, SecondPortRouting& port, QWidget* parent = nullptr);
  ~RecorderWindow() override;

 private:
  Session& session_;
  SecondPortRouting& port_;
};

}  // namespace kx::recorder
