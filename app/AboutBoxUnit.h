// The About dialog ("Info"): the product picture, the maker's name and contact lines, the
// copyright line with the current year, and a button that opens the maker's website. It is
// built for each opening and destroyed once it has been closed.
#pragma once

#include <QDate>
#include <QDialog>

class QLabel;
class QPushButton;

namespace widgets {
class Panel;
}

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* WebsiteAddress = "https://www.orvent.example/";

    // Today's date; tests put a fixed date here to see a given year.
    using Clock = QDate (*)();
    static Clock clock;

    explicit TAboutBox(QWidget* owner);
    ~TAboutBox() override;

    void FormCreate(QObject* sender);
    void BitBtnXP1Click(QObject* sender);

    widgets::Panel* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Copyright;
    QLabel* Comments;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* BitBtnXP1;
    QPushButton* BitBtn1;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    bool m_centred = false;
};

// The dialog while it exists; cleared when it is destroyed.
extern TAboutBox* AboutBox;
