// Panels and labels of the window frame: a coloured panel with an inner and an outer bevel and
// an optional caption, and a label that draws its text over a one-pixel shadow.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

namespace widgets {

class Panel : public QWidget {
    Q_OBJECT
  public:
    enum class Bevel { None, Lowered, Raised };

    explicit Panel(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    QColor color() const { return m_color; }
    // The outer bevel lies on the panel's edge, the inner one just inside it.
    void setBevels(Bevel inner, Bevel outer);
    Bevel bevelInner() const { return m_inner; }
    Bevel bevelOuter() const { return m_outer; }
    int borderWidth() const { return (m_inner != Bevel::None) + (m_outer != Bevel::None); }

    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }
    void setCaptionAlignment(Qt::Alignment alignment);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor m_color;
    Bevel m_inner = Bevel::None;
    Bevel m_outer = Bevel::Raised;
    QString m_caption;
    Qt::Alignment m_alignment = Qt::AlignCenter;
};

class ShadowLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ShadowLabel(const QString& text, QWidget* parent = nullptr);

    void setColors(const QColor& text, const QColor& shadow);
    QColor textColor() const { return m_text; }
    QColor shadowColor() const { return m_shadow; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor m_text{Qt::white};
    QColor m_shadow{Qt::black};
};

} // namespace widgets
