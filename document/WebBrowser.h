// The browser view as the main window hosts it (`web`): a widget that shows the page 1:1 at the
// view's size and passes the user's mouse, wheel and keys on to the page, so that links can be
// followed and the page scrolled before it is rendered.
#pragma once

#include "platform/browser/BrowserView.h"

#include <QWidget>

class TWebBrowser : public QWidget {
    Q_OBJECT
  public:
    explicit TWebBrowser(QWidget* parent = nullptr);
    ~TWebBrowser() override;

    void Navigate(const QString& address); // throws browser::BrowserError

    // The view's size in pixels. A new size passes through the content extent in hundredths of
    // a millimetre at the screen's resolution first, as an embedded control's size does; a size
    // the view refuses raises browser::BrowserError and the view keeps its size.
    void setViewWidth(int w);
    void setViewHeight(int h);
    int viewWidth() const;
    int viewHeight() const;

    browser::BrowserView* view() { return m_view; }

    // The content extent in hundredths of a millimetre for a size in pixels at the given pixels
    // per inch, rounded, and back.
    static long long pixelsToHimetric(long long pixels, int pixelsPerInch);
    static long long himetricToPixels(long long himetric, int pixelsPerInch);

  signals:
    void OnDocumentComplete(QObject* sender, const QString& frameId, const QString& url);
    // A picture of the page could not be drawn because the page was slow to answer; it answers
    // now, and drawings of it that were left undone can be made again.
    void PageAnswersAgain();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void applySize(int width, int height);
    void sendKey(QKeyEvent* event, bool down);

    browser::BrowserView* m_view;
    int m_clickCount = 1;
};

// OleDraw for the hosted view (the main window passes `web`).
constexpr gdi::DWORD DVASPECT_CONTENT = browser::DVASPECT_CONTENT;
int OleDraw(TWebBrowser* web, gdi::DWORD aspect, gdi::HDC dc, const gdi::RECT* bounds);
