#include "platform/widgets/StatusBar.h"

#include "platform/AppEvents.h"

#include <QPainter>

namespace widgets {

namespace {
constexpr int kGap = 2;
constexpr int kTopMargin = 2;
} // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setFixedHeight(19);
}

void StatusBar::setPanels(std::vector<PanelInfo> panels) {
    m_panels = std::move(panels);
    update();
}

QRect StatusBar::panelRect(int index) const {
    if (index < 0 || index >= int(m_panels.size())) return {};
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += m_panels[size_t(i)].width + kGap;
    const bool last = index == int(m_panels.size()) - 1;
    const int right = last ? width() : left + m_panels[size_t(index)].width;
    // Inside the one-pixel sunken frame.
    return QRect(QPoint(left + 1, kTopMargin + 1), QPoint(right - 2, height() - 2));
}

void StatusBar::paintEvent(QPaintEvent*) {
    {
        QPainter painter(this);
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        for (int i = 0; i < int(m_panels.size()); ++i) {
            const QRect inside = panelRect(i);
            const QRect frame = inside.adjusted(-1, -1, 1, 1);
            painter.setPen(dark);
            painter.drawLine(frame.topLeft(), frame.topRight());
            painter.drawLine(frame.topLeft(), frame.bottomLeft());
            painter.setPen(light);
            painter.drawLine(frame.topRight(), frame.bottomRight());
            painter.drawLine(frame.bottomLeft(), frame.bottomRight());
            const PanelInfo& panel = m_panels[size_t(i)];
            if (!panel.ownerDraw && !panel.text.isEmpty()) {
                painter.setPen(palette().color(QPalette::WindowText));
                painter.drawText(inside.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, panel.text);
            }
        }
    }
    if (!onDrawPanel) return;
    for (int i = 0; i < int(m_panels.size()); ++i)
        if (m_panels[size_t(i)].ownerDraw) platform::runGuarded([&] { onDrawPanel(this, i, panelRect(i)); });
}

} // namespace widgets
