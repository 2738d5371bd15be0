// What the tool does to a page before its picture: scripts, waits, hidden elements, one
// element's box, what the page is told (agent, headers, cookies, media), and where its HTML
// comes from.
#include "CliTestSupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

using namespace clitest;

namespace {

QByteArray whitePage(const QByteArray& body = {}) {
    return "<html><body style='margin:0;background:#fff'>" + body + "</body></html>";
}

class PageOptions : public CliTest {};

TEST_F(PageOptions, ScriptsRunAfterLoadAndBeforeThePicture) {
    const QString page = write("page.html", whitePage());
    write("later.js",
          "new Promise(done => setTimeout(() => { document.body.style.background = '#3c3'; done(); }, "
          "300))");
    struct Case {
        QStringList args;
        int status;
        QRgb colour;
        const char* says;
    } const cases[] = {
        {{"--javascript", "document.body.style.background = '#c33'"}, 0, qRgb(0xcc, 0x33, 0x33), nullptr},
        // What the script set going is settled before the picture, as the page was.
        {{"--javascript", "document.body.style.transition = 'background-color 1.5s';"
                          "getComputedStyle(document.body).backgroundColor;"
                          "document.body.style.backgroundColor = '#33c'"},
         0,
         qRgb(0x33, 0x33, 0xcc),
         nullptr},
        // The promise the script ends with is waited for.
        {{"--javascript-file", "later.js"}, 0, qRgb(0x33, 0xcc, 0x33), nullptr},
        {{"--javascript", "throw new Error('no way')"}, 3, 0, "no way"},
        {{"--javascript", "for (;;) {}", "--timeout", "3"}, 3, 0, "running the script"},
        // A script that sends the page elsewhere: the picture would be of another page.
        {{"--javascript", "location.href = 'later.js'; new Promise(() => {})"},
         3,
         0,
         "The page went on to another document while"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QFile::remove(path("out.png"));
        const Outcome r = run(QStringList(c.args) << "--width"
                                                  << "100"
                                                  << "--height"
                                                  << "100" << page << "out.png");
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(near(pixelOf("out.png", 50, 50), c.colour, 0));
        } else {
            EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
            EXPECT_FALSE(QFile::exists(path("out.png")));
        }
    }
}

// The element waited for fades in as it comes: it is taken once it has.
TEST_F(PageOptions, WaitForWaitsUntilAnElementMatchesAndGivesUpAtTheLimit) {
    const QString page =
        write("late.html",
              whitePage("<style>@keyframes in { from { opacity: 0 } }</style>"
                        "<script>setTimeout(() => { const d = document.createElement('div'); d.id = 'late';"
                        "d.style.cssText = 'position:absolute;inset:0;background:#33c;animation:in 1.5s';"
                        "document.body.appendChild(d); }, 700)</script>"));
    Outcome r = run({"--wait-for", "#late", "--width", "100", "--height", "100", page, "out.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("out.png", 50, 50), qRgb(0x33, 0x33, 0xcc), 0));

    QElapsedTimer clock;
    clock.start();
    r = run({"--wait-for", "#never", "--timeout", "2", page, "never.png"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("no element matched \"#never\"")) << r.err.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_FALSE(QFile::exists(path("never.png")));

    r = run({"--wait-for", "div[", page, "bad.png"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("not a valid CSS selector")) << r.err.toStdString();

    // A --wait longer than the page's time is said at once, not waited out to a failed capture.
    clock.restart();
    r = run({"--wait", "600000", "--timeout", "30", page, "long.png"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("--wait 600000 ms does not fit in what is left of the time limit of 30 s"))
        << r.err.toStdString();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_FALSE(QFile::exists(path("long.png")));
}

// Hidden elements keep their room: what comes after them stays where it was.
TEST_F(PageOptions, HideLeavesTheLayoutAsItWas) {
    const QString page =
        write("ads.html", whitePage("<div class='ad' style='height:100px;background:#c33'></div>"
                                    "<div style='height:100px;background:#33c'></div>"
                                    "<div id='banner' style='height:100px;background:#3c3'></div>"));
    const Outcome r =
        run({"--hide", ".ad", "--hide", "#banner", "--width", "100", "--height", "300", page, "out.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("out.png", 50, 50), qRgb(255, 255, 255), 0));
    EXPECT_TRUE(near(pixelOf("out.png", 50, 150), qRgb(0x33, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("out.png", 50, 250), qRgb(255, 255, 255), 0));
}

// A focused field's caret blinks, so that two pictures of one page would differ by it: it is
// kept out of every picture, whatever colour the page gives it, in an input, in editable content
// and in a frame. The pages move the caret every 50 ms, which keeps it shown (it blinks only once
// it has stood still for a while); each picture equals that of the same page whose caret the page
// itself makes transparent.
TEST_F(PageOptions, TheBlinkingCaretOfAFocusedFieldIsKeptOut) {
    const QByteArray style = "<style>* { font: 20px monospace; caret-color: %1 !important }</style>";
    const QByteArray moving = "<script>f.focus(); let i = 0; setInterval(() => { const at = ++i % 2 + 1; "
                              "f.setSelectionRange ? f.setSelectionRange(at, at) : "
                              "getSelection().collapse(f.firstChild, at) }, 50)</script>";
    const std::pair<const char*, QByteArray> fields[] = {
        {"input", "<input id=f value=typed>" + moving},
        {"editable", "<div contenteditable id=f>edit me</div>" + moving},
        {"frame",
         "<iframe srcdoc=\"" +
             QByteArray(QByteArray(style).replace("%1", "red") + "<textarea id=f>text</textarea>" + moving)
                 .replace('"', "&quot;") +
             "\"></iframe>"}};
    QByteArray batch;
    for (const auto& [name, field] : fields) {
        // The frame's own style names the colour too.
        const QByteArray without = QByteArray(field).replace("red", "transparent");
        const QString shown = write(QString::fromLatin1(name) + ".html",
                                    whitePage(QByteArray(style).replace("%1", "red") + field));
        const QString clear = write(QString::fromLatin1(name) + "-clear.html",
                                    whitePage(QByteArray(style).replace("%1", "transparent") + without));
        batch += batchLine(clear, QString::fromLatin1(name) + "-clear.png");
        for (int i = 0; i < 3; ++i)
            batch += batchLine(shown, QStringLiteral("%1-%2.png").arg(QLatin1String(name)).arg(i));
    }
    write("fields.txt", batch);
    const Outcome r = run({"--quiet", "--width", "300", "--height", "100", "--batch", "fields.txt"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const auto& [name, field] : fields) {
        const QImage clear(path(QString::fromLatin1(name) + "-clear.png"));
        ASSERT_FALSE(clear.isNull()) << name;
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(QImage(path(QStringLiteral("%1-%2.png").arg(QLatin1String(name)).arg(i))) == clear)
                << "the caret is in picture " << i << " of the " << name;
    }
}

// The element's own box, also when it lies below the view; left red, right blue, so that a
// shift or a scale shows.
// The element's box wherever it is: far down the page, or inside boxes of the page that scroll
// (an application's content pane, a row that scrolls sideways inside it), which are scrolled to
// show it as a user would.
TEST_F(PageOptions, SelectorPicturesTheElementsBoxWhereverItIs) {
    const QByteArray card =
        "<div id='card' style='display:inline-block;vertical-align:top;width:120px;height:80px'>"
        "<div style='float:left;width:60px;height:80px;background:#c33'></div>"
        "<div style='float:left;width:60px;height:80px;background:#33c'></div></div>";
    const QString deep = write(
        "deep.html", whitePage("<div style='position:absolute;left:40px;top:1500px'>" + card + "</div>"));
    const QString pane = write(
        "pane.html",
        whitePage("<div style='height:40px;background:#000'></div>"
                  "<main style='height:calc(100vh - 40px);overflow:auto'><div style='height:1500px'></div>"
                  "<div style='overflow-x:auto;white-space:nowrap;width:200px'>"
                  "<div style='display:inline-block;width:700px;height:80px'></div>" +
                  card + "</div><div style='height:800px'></div></main>"));
    struct Case {
        QString page;
        int size;
        QSize picture;
    } const cases[] = {
        {deep, 100, {120, 80}}, {deep, 200, {240, 160}}, {pane, 100, {120, 80}}, {pane, 50, {60, 40}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << QFileInfo(c.page).fileName().toStdString() << " at " << c.size);
        const Outcome r = run({"--selector", "#card", "--size", QString::number(c.size), c.page, "card.png"});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QImage image(path("card.png"));
        EXPECT_EQ(image.size(), c.picture);
        const int w = c.picture.width(), h = c.picture.height();
        EXPECT_TRUE(near(image.pixel(2, 2), qRgb(0xcc, 0x33, 0x33), 0));
        EXPECT_TRUE(near(image.pixel(w / 2 - 3, h - 3), qRgb(0xcc, 0x33, 0x33), 0));
        EXPECT_TRUE(near(image.pixel(w / 2 + 3, 2), qRgb(0x33, 0x33, 0xcc), 0));
        EXPECT_TRUE(near(image.pixel(w - 3, h - 3), qRgb(0x33, 0x33, 0xcc), 0));
    }
    const Outcome none = run({"--selector", ".missing", deep, "none.png"});
    EXPECT_EQ(none.status, 3);
    EXPECT_TRUE(none.err.contains("no element matches \".missing\"")) << none.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("none.png")));
}

TEST_F(PageOptions, AgentHeadersAndCookiesReachTheServer) {
    LocalServer server(whitePage());
    ASSERT_GT(server.port(), 0);
    const QString address = QStringLiteral("http://127.0.0.1:%1/page").arg(server.port());
    const Outcome r = run({"--user-agent", "VelmoraTest/1.0", "--header", "X-Velmora: yes please", "--cookie",
                           "session=abc123", "--cookie", "lang=en", "--width", "100", "--height", "100",
                           address, "out.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QByteArray head = server.requestFor("/page");
    ASSERT_FALSE(head.isEmpty());
    EXPECT_TRUE(head.contains("User-Agent: VelmoraTest/1.0\r\n")) << head.toStdString();
    EXPECT_TRUE(head.contains("X-Velmora: yes please\r\n")) << head.toStdString();
    const int cookie = head.indexOf("Cookie: ");
    ASSERT_GE(cookie, 0) << head.toStdString();
    const QByteArray cookies = head.mid(cookie, head.indexOf("\r\n", cookie) - cookie);
    EXPECT_TRUE(cookies.contains("session=abc123")) << cookies.toStdString();
    EXPECT_TRUE(cookies.contains("lang=en")) << cookies.toStdString();
}

TEST_F(PageOptions, ColourSchemeAndMediaReachThePagesStyles) {
    const QString page =
        write("styled.html", "<html><style>body { margin: 0; background: #888 }"
                             "@media (prefers-color-scheme: dark) { body { background: #111 } }"
                             "@media (prefers-color-scheme: light) { body { background: #eee } }"
                             "@media print { html { background: #3c3 } body { display: none } }"
                             "</style><body></body></html>");
    struct Case {
        QStringList args;
        QRgb colour;
    } const cases[] = {
        {{"--color-scheme", "dark"}, qRgb(0x11, 0x11, 0x11)},
        {{"--color-scheme", "light"}, qRgb(0xee, 0xee, 0xee)},
        {{"--media", "print"}, qRgb(0x33, 0xcc, 0x33)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = run(QStringList(c.args) << "--width"
                                                  << "100"
                                                  << "--height"
                                                  << "100" << page << "out.png");
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE(near(pixelOf("out.png", 50, 50), c.colour, 0)) << std::hex << pixelOf("out.png", 50, 50);
    }
}

// HTML on standard input finds its neighbours by relative links, as a page saved there would,
// and leaves no file behind.
TEST_F(PageOptions, HtmlFromStandardInputResolvesRelativeLinksHere) {
    write("blue.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'>"
                      "<rect width='10' height='10' fill='#33c'/></svg>");
    const Outcome r = run({"--width", "100", "--height", "100", "-", "out.png"}, 90000,
                          whitePage("<img src='blue.svg' style='position:absolute;left:0;top:0;width:50px;"
                                    "height:100px'>"));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("out.png", 25, 50), qRgb(0x33, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("out.png", 75, 50), qRgb(255, 255, 255), 0));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".velmora").size(), 0);
}

TEST_F(PageOptions, FileNamesMustExistAndFragmentsAreKept) {
    write("tall.html", whitePage("<div style='height:3000px'></div>"
                                 "<div id='mark' style='height:1200px;background:#3c3'></div>"));
    const Outcome atMark = run({"--width", "200", "--height", "200", "tall.html#mark", "mark.png"});
    ASSERT_EQ(atMark.status, 0) << atMark.err.toStdString();
    EXPECT_TRUE(near(pixelOf("mark.png", 100, 100), qRgb(0x33, 0xcc, 0x33), 0));

    for (const char* missing : {"missing.html", "sub/missing.html", "missing.html#x"}) {
        const Outcome r = run({missing, "out.png"});
        EXPECT_EQ(r.status, 3) << missing;
        EXPECT_TRUE(r.err.contains("no such file")) << r.err.toStdString();
    }
}

} // namespace

namespace {

// A web font used only far down a page taller than the view: the picture waits for it. The
// font is the system's DejaVu Serif under another name, so the picture must equal that of the
// same text set in the installed font; text caught before the font came would be invisible
// (font-display: block) or in the sans-serif fallback.
TEST_F(PageOptions, AWebFontFarDownIsInThePicture) {
    QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"));
    ASSERT_TRUE(font.open(QIODevice::ReadOnly)) << "fonts-dejavu-core is installed by the set-up";
    write("serif.ttf", font.readAll());
    auto page = [](const QByteArray& family) {
        return "<html><head><style>@font-face { font-family: Far; src: url(serif.ttf); font-display: block }"
               "</style></head><body style='margin:0;background:#fff'><div style='height:5000px'></div>"
               "<p style='margin:0;font:40px/50px " +
               family + ", sans-serif;color:#000'>Glyphs far down: Rag 0123</p></body></html>";
    };
    const QString web = write("web.html", page("Far"));
    const QString installed = write("installed.html", page("DejaVu Serif"));
    for (const auto& [html, out] :
         {std::pair{web, QStringLiteral("web.png")}, {installed, QStringLiteral("installed.png")}}) {
        const Outcome r = run({"--width", "600", "--full-page", html, out});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }
    const QImage withWebFont(path("web.png")), withInstalled(path("installed.png"));
    ASSERT_EQ(withWebFont.size(), withInstalled.size());
    ASSERT_GT(withWebFont.height(), 5040);
    const QRect line(0, 5000, 600, withWebFont.height() - 5000);
    const QImage text = withInstalled.copy(line);
    int dark = 0;
    for (int y = 0; y < text.height(); ++y)
        for (int x = 0; x < text.width(); ++x)
            dark += qGray(text.pixel(x, y)) < 96;
    ASSERT_GT(dark, 200) << "the text is drawn at all";
    EXPECT_EQ(withWebFont.copy(line), text);
}

} // namespace

// Sections the page lets the engine skip while they are off screen (content-visibility: auto,
// with a placeholder height of half their own) are drawn in a tall picture, each at its own
// height, as they show once scrolled to; one whose content is hidden for good stays hidden.
// Beyond the first few views they came out blank, and --selector on an element in one of them
// took a blank box.
TEST_F(PageOptions, ContentSkippedOffScreenIsInTheTallPicture) {
    static const QRgb colours[] = {qRgb(0x22, 0xaa, 0x66), qRgb(0x22, 0x66, 0xaa), qRgb(0xaa, 0x22, 0x66)};
    QByteArray sections;
    for (int i = 0; i < 9; ++i)
        sections += QStringLiteral("<section><div style='height:1000px;background:#%1'></div></section>")
                        .arg(colours[i % 3] & 0xffffff, 6, 16, QLatin1Char('0'))
                        .toUtf8();
    const QString page = write(
        "sections.html",
        whitePage(
            "<style>section { content-visibility: auto; contain-intrinsic-size: auto 500px }</style>" +
            sections +
            "<section style='content-visibility:hidden'><div style='height:500px;background:#000'></div>"
            "</section><section><div id='mark' style='height:200px;width:300px;background:#c33'></div>"
            "</section>"));
    Outcome r = run({"--width", "400", "--height", "600", "--full-page", page, "whole.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage whole(path("whole.png"));
    ASSERT_EQ(whole.size(), QSize(400, 9000 + 500 + 200));
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(near(whole.pixel(200, i * 1000 + 500), colours[i % 3], 0));
    }
    EXPECT_TRUE(near(whole.pixel(200, 9250), qRgb(0xff, 0xff, 0xff), 0)) << "hidden content shown";
    EXPECT_TRUE(near(whole.pixel(100, 9600), qRgb(0xcc, 0x33, 0x33), 0));

    r = run({"--width", "400", "--height", "600", "--selector", "#mark", page, "mark.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage mark(path("mark.png"));
    EXPECT_EQ(mark.size(), QSize(300, 200));
    EXPECT_TRUE(near(mark.pixel(150, 100), qRgb(0xcc, 0x33, 0x33), 0));
}

// A frame of another origin (any frame of a local file) that lies wholly below the viewport is
// left empty by the engine in a tall picture: it is drawn again with the page scrolled to it, the
// page's fixed header hidden, and put in its place, also at another size. One that the page moves
// as it scrolls is left empty, and the run says so on the page's line and in the report, with
// the --height that takes it. A frame of the page's own origin, and one in the viewport, are
// drawn as they are.
TEST_F(PageOptions, FramesOfAnotherOriginBelowTheViewAreDrawn) {
    write("green.html", whitePage().replace("#fff", "#2a6"));
    const QByteArray frame =
        "<iframe src='green.html' style='display:block;border:0;width:200px;height:%1px'></iframe>";
    const QString page = write(
        "framed.html",
        whitePage("<div style='position:fixed;top:0;left:0;right:0;height:100px;background:#000'></div>" +
                  QByteArray(frame).replace("%1", "300") + "<div style='height:1500px'></div>" +
                  "<iframe srcdoc='<body style=\"background:#26a\">' "
                  "style='display:block;border:0;width:200px;height:300px'></iframe>" +
                  QByteArray(frame).replace("%1", "300") + QByteArray(frame).replace("%1", "700")));
    Outcome r = run({"--height", "600", "--full-page", "--report", "-", page, "tall.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["message"].toString(), QString());
    const QImage tall(path("tall.png"));
    ASSERT_EQ(tall.size(), QSize(800, 3100));
    struct Spot {
        int x, y;
        QRgb colour;
    } const spots[] = {
        {100, 50, qRgb(0, 0, 0)},
        {100, 150, qRgb(0x22, 0xaa, 0x66)},
        {100, 1950, qRgb(0x22, 0x66, 0xaa)},
        {100, 2100, qRgb(0x22, 0xaa, 0x66)},
        {199, 2399, qRgb(0x22, 0xaa, 0x66)},
        {200, 2250, qRgb(0xff, 0xff, 0xff)},
        {100, 2400, qRgb(0x22, 0xaa, 0x66)},
        {100, 2450, qRgb(0x22, 0xaa, 0x66)},
        {100, 3099, qRgb(0x22, 0xaa, 0x66)},
    };
    for (const Spot& spot : spots) {
        SCOPED_TRACE(spot.y);
        EXPECT_TRUE(near(tall.pixel(spot.x, spot.y), spot.colour, 0));
    }
    r = run({"--height", "600", "--full-page", "--size", "50", page, "half.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("half.png", 50, 1100), qRgb(0x22, 0xaa, 0x66), 0));
    EXPECT_TRUE(near(pixelOf("half.png", 50, 1500), qRgb(0x22, 0xaa, 0x66), 0));

    const QString moving = write(
        "moving.html",
        whitePage("<div id='above' style='height:1800px'></div>" + QByteArray(frame).replace("%1", "300") +
                  "<div style='height:1000px'></div><script>addEventListener('scroll', () => {"
                  "if (scrollY > 300) above.style.height = '2000px'; })</script>"));
    r = run({"--height", "600", "--full-page", "--report", "-", moving, "moving.png"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString note =
        "1 frame of another origin below the first 600 pixels is empty in the picture: the engine "
        "draws such a frame only inside the viewport (--height 3100 takes them)";
    EXPECT_TRUE(r.err.contains(note)) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["message"].toString(), note);
}
