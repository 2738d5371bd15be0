// The filter box under the file list: a drop-down whose entries come from a filter string of
// alternating descriptions and masks ("HTML files|*.htm;*.html|All files|*.*").
#pragma once

#include <QComboBox>
#include <functional>

class TFilterComboBox : public QComboBox {
    Q_OBJECT
  public:
    using ChangeHandler = std::function<void(QObject* sender)>;

    explicit TFilterComboBox(QWidget* parent = nullptr);

    // Rebuilds the entries from the filter and selects the first one.
    void setFilter(const QString& filter);
    QString filter() const { return m_filter; }

    // The mask of the selected entry. With nothing selected the last entry becomes the
    // selected one first, so the list then shows the widest choice, which is what a filter
    // string conventionally ends with; with no entries at all every name with a dot matches.
    QString Mask();

    // Called when the user picks an entry (by mouse or keyboard), not when code selects one.
    void setOnChange(ChangeHandler handler) { m_onChange = std::move(handler); }

  private:
    QString m_filter;
    ChangeHandler m_onChange;
};
