// A status bar with fixed-width panels, separated by two pixels; the last panel reaches the
// right end of the bar. A panel can be owner-drawn: after the bar has painted its frame, the
// owner draws the panel's inside through onDrawPanel.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace widgets {

class StatusBar : public QWidget {
    Q_OBJECT
  public:
    struct PanelInfo {
        int width = 50;
        bool ownerDraw = false;
        QString text;
    };

    explicit StatusBar(QWidget* parent = nullptr);

    void setPanels(std::vector<PanelInfo> panels);
    const std::vector<PanelInfo>& panels() const { return m_panels; }
    // The inside of a panel, within its frame, in the bar's coordinates (a QRect: right() and
    // bottom() are the last pixels inside).
    QRect panelRect(int index) const;

    // Called during paintEvent for each owner-drawn panel, with no painter active on the bar.
    std::function<void(StatusBar* bar, int panel, const QRect& rect)> onDrawPanel;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<PanelInfo> m_panels;
};

} // namespace widgets
