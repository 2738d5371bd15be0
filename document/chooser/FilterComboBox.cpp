#include "document/chooser/FilterComboBox.h"

TFilterComboBox::TFilterComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this](int) {
        if (m_onChange) m_onChange(this);
    });
}

void TFilterComboBox::setFilter(const QString& filter) {
    m_filter = filter;
    const QSignalBlocker quiet(this);
    clear();
    const QStringList parts = filter.split(u'|');
    // An empty filter gives no entries; a description without a mask after it still becomes
    // an entry, with no masks, so a truncated filter string does not silently lose a line.
    if (!filter.isEmpty()) {
        for (qsizetype i = 0; i < parts.size(); i += 2)
            addItem(parts[i], i + 1 < parts.size() ? parts[i + 1] : QString());
    }
    if (count() > 0) setCurrentIndex(0);
}

QString TFilterComboBox::Mask() {
    if (count() == 0) return QStringLiteral("*.*");
    if (currentIndex() < 0) setCurrentIndex(count() - 1);
    return itemData(currentIndex()).toString();
}
