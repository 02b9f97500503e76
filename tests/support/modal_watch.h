// For window tests: acts on the next modal window (message box, dialog) that
// shows up while the test is blocked in its exec(). Header-only, Qt Widgets.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kx::test {

// Polls every 5 ms until `find` returns a widget, then calls `action` with it
// once. Gives up after `timeoutMs`.
inline void WatchFor(std::function<QWidget*()> find, std::function<void(QWidget*)> action, int timeoutMs = 5000) {
  auto* timer = new QTimer(qApp);
  timer->setObjectName("kxModalWatch");
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, clock, find = std::move(find), action = std::move(action), timeoutMs] {
                     if (QWidget* w = find()) {
                       timer->stop();
                       timer->deleteLater();
                       action(w);
                     } else if (clock->elapsed() > timeoutMs) {
                       timer->stop();
                       timer->deleteLater();
                     }
                   });
  timer->start(5);
}

// Calls `action` with the next visible modal widget other than `except`.
inline void OnNextModal(std::function<void(QWidget*)> action, QWidget* except = nullptr, int timeoutMs = 5000) {
  WatchFor(
      [except]() -> QWidget* {
        QWidget* w = QApplication::activeModalWidget();
        return w != nullptr && w != except && w->isVisible() ? w : nullptr;
      },
      std::move(action), timeoutMs);
}

// The message box showing now, if any.
inline QWidget* VisibleMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible()) return w;
  return nullptr;
}

// Accepts the next message box that shows and stores its text (and caption).
inline void AcceptNextMessageBox(QString* text, QString* caption = nullptr) {
  WatchFor(VisibleMessageBox, [text, caption](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (text != nullptr) *text = box->text();
    if (caption != nullptr) *caption = box->windowTitle();
    box->accept();
  });
}

// What a message box said, once it was answered.
struct BoxSeen {
  QString text;
  QString caption;
  bool seen = false;
};

// Presses `button` on the next message box that shows within `timeoutMs`.
inline std::shared_ptr<BoxSeen> AnswerNextMessageBox(QMessageBox::StandardButton button, int timeoutMs = 5000) {
  auto seen = std::make_shared<BoxSeen>();
  WatchFor(
      VisibleMessageBox,
      [button, seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        seen->text = box->text();
        seen->caption = box->windowTitle();
        seen->seen = true;
        box->button(button)->click();
      },
      timeoutMs);
  return seen;
}

// Drops every watch still waiting (call when a test ends, so a watch that
// found nothing cannot act on the next test's windows).
inline void CancelModalWatches() {
  for (QTimer* t : qApp->findChildren<QTimer*>("kxModalWatch", Qt::FindDirectChildrenOnly)) {
    t->stop();
    delete t;
  }
}

}  // namespace kx::test
