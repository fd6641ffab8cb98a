// CLxPerfView: the view, a client area where video and images appear, with a
// horizontal and a vertical scroll bar. It holds no state: clicks, paints
// and scrolls go to the main frame.
#pragma once

#include <windows.h>

#include <QWidget>

#include <functional>

#include "democommon/geometry.h"

class QScrollBar;

namespace lxperf {

class CLxPerfView : public QWidget {
  Q_OBJECT
 public:
  struct Hooks {
    std::function<void()> leftButtonDown;
    // Before the client area shows the screen: the frame draws its image.
    std::function<void()> paint;
    std::function<void(bool horizontal, demo::ScrollCode code, int track)> scroll;
  };
  explicit CLxPerfView(QWidget* parent = nullptr);
  void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // The client area: the video's window (its handle goes to the card calls).
  QWidget* client() const { return client_; }
  QScrollBar* horizontalBar() const { return horizontal_; }
  QScrollBar* verticalBar() const { return vertical_; }
  // The client area in screen coordinates as left, top, right, bottom.
  RECT clientOnScreen() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void connectBar(QScrollBar* bar, bool horizontal);

  Hooks hooks_;
  QWidget* client_ = nullptr;
  QScrollBar* horizontal_ = nullptr;
  QScrollBar* vertical_ = nullptr;
};

}  // namespace lxperf
