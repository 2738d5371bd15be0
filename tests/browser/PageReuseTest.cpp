// A page loaded in the page a view had before (navigateReusing) keeps that page's renderer and
// browser context, and must find nothing the page before left: no storage of any kind, no script
// of it still running, no unload handler's last word. Where that cannot be made sure of, the view
// takes a fresh page instead.
#include "platform/browser/BrowserView.h"
#include "tests/browser/BrowserFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace browsertest;
using browser::BrowserView;

namespace {

// Leaves whatever a page of its origin can leave: local and session storage, a database, a cache,
// a timer that keeps writing, and last words on the way out. window.left resolves once all of it
// is in place.
const QByteArray kLeaver = R"(<!doctype html><html><body><script>
localStorage.setItem('left', '1');
sessionStorage.setItem('left', '1');
let ticks = 0;
setInterval(() => localStorage.setItem('tick', ++ticks), 1);
addEventListener('pagehide', () => localStorage.setItem('pagehide', '1'));
addEventListener('unload', () => localStorage.setItem('unload', '1'));
window.left = Promise.all([
  new Promise(done => {
    const open = indexedDB.open('left', 1);
    open.onupgradeneeded = () => open.result.createObjectStore('s');
    open.onsuccess = () => { open.result.close(); done(); };
    open.onerror = done;
  }),
  self.caches ? caches.open('left').then(c => c.put('/x', new Response('x'))).catch(() => 0) : 0,
]).then(() => true);
%1
</script></body></html>)";

// Tells what it finds of an earlier page.
const QByteArray kFinder = R"(<!doctype html><html><body><script>
window.found = (async () => ({
  local: Object.keys(localStorage).sort().join(','),
  session: Object.keys(sessionStorage).join(','),
  databases: (await indexedDB.databases()).map(d => d.name).join(','),
  caches: self.caches ? (await caches.keys()).join(',') : '',
}))();
</script></body></html>)";

class PageReuse : public ::testing::Test {
  protected:
    void SetUp() override { view.resize(400, 300); }

    // Loads the leaving page (with extra script, and a script run as if the user had clicked),
    // then the finding page in its place; returns what the finder found.
    QJsonObject leaveThenFind(const QByteArray& extra, bool* reused, const QString& gesture = {}) {
        loadAndWait(view,
                    pages.write(QStringLiteral("leaver.html"), QByteArray(kLeaver).replace("%1", extra)));
        EXPECT_EQ(view.evaluate(QStringLiteral("left"), 10000), QStringLiteral("true"));
        if (!gesture.isEmpty())
            browser::engine::rawPageCall(
                &view, QStringLiteral("Runtime.evaluate"),
                QJsonDocument(QJsonObject{{"expression", gesture}, {"userGesture", true}})
                    .toJson(QJsonDocument::Compact));
        const std::uint64_t made = browser::engine::pagesMade();
        loadAndWait(view, pages.write(QStringLiteral("finder.html"), kFinder), true);
        *reused = browser::engine::pagesMade() == made;
        return QJsonDocument::fromJson(view.evaluate(QStringLiteral("found"), 10000).toUtf8()).object();
    }

    Pages pages;
    BrowserView view;
};

TEST_F(PageReuse, TheNextPageFindsNothingOfTheOneBefore) {
    bool reused = false;
    const QJsonObject found = leaveThenFind("", &reused);
    EXPECT_TRUE(reused) << "a page that ended well was not reused";
    for (const char* kind : {"local", "session", "databases", "caches"})
        EXPECT_EQ(found.value(QLatin1String(kind)).toString().toStdString(), "") << kind;
    // Nothing of it runs on afterwards either.
    EXPECT_EQ(
        view.evaluate(QStringLiteral("new Promise(r => setTimeout(() => r(localStorage.length), 50))"), 10000)
            .toStdString(),
        "0");
}

// Pages whose traces cannot all be found by their origin go with their context, and the next
// page is as clean in a fresh one.
TEST_F(PageReuse, APageWithFramesOrWindowsOfItsOwnIsNotReused) {
    const struct {
        const char* what;
        QByteArray script;
        QString gesture;
    } cases[] = {
        // A frame of another origin, whose storage the engine keeps apart per top-level site;
        // nothing listens there, so it is gone again as soon as it failed.
        {"a frame of another origin",
         "document.body.append(Object.assign(document.createElement('iframe'), "
         "{src: 'http://127.0.0.1:9/'}));",
         {}},
        {"a window it opened", {}, QStringLiteral("window.open('about:blank', '_blank')")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool reused = true;
        const QJsonObject found = leaveThenFind(c.script, &reused, c.gesture);
        EXPECT_FALSE(reused);
        EXPECT_EQ(found.value(QLatin1String("local")).toString().toStdString(), "");
    }
}

// The blank document between two pages is nobody's load: the view reports the next page only,
// and is not loaded before it.
TEST_F(PageReuse, OnlyTheNextPagesLoadIsReported) {
    loadAndWait(view, pages.write(QStringLiteral("first.html"), "<html><body>first</body></html>"));
    QStringList completed;
    QObject::connect(&view, &BrowserView::documentComplete,
                     [&](const QString&, const QString& url) { completed << url; });
    const QString second = pages.write(QStringLiteral("second.html"), "<html><body>second</body></html>");
    view.navigateReusing(second);
    EXPECT_FALSE(view.loaded());
    ASSERT_TRUE(waitFor([&] { return view.loaded(); }));
    // Anything still to come in is taken in before looking.
    waitFor([] { return false; }, 100);
    EXPECT_EQ(completed, QStringList{BrowserView::addressToUrl(second).toString(QUrl::FullyEncoded)});
    EXPECT_EQ(view.evaluate(QStringLiteral("document.body.textContent"), 5000), QStringLiteral("\"second\""));
    // The page's history is its own.
    EXPECT_EQ(view.evaluate(QStringLiteral("history.length"), 5000), QStringLiteral("2"));
}

// Every browser context the engine makes gets a window of its own; nothing of that window may
// need a renderer beside the page's (the address bar's popup did, costing each context about
// as much processor time as its page).
TEST_F(PageReuse, AViewsContextHoldsNoPageButItsOwn) {
    loadAndWait(view, pages.write(QStringLiteral("only.html"), "<html><body>only</body></html>"));
    const QJsonObject answer =
        QJsonDocument::fromJson(
            browser::engine::rawPageCall(&view, QStringLiteral("Target.getTargets"), R"({"filter":[{}]})"))
            .object();
    const QJsonArray targets = answer.value(QStringLiteral("targetInfos")).toArray();
    ASSERT_FALSE(targets.isEmpty()) << QJsonDocument(answer).toJson().toStdString();
    QString context;
    for (const QJsonValue& t : targets)
        if (t[QStringLiteral("attached")].toBool() && t[QStringLiteral("type")].toString() == "page" &&
            t[QStringLiteral("url")].toString().endsWith(QStringLiteral("only.html")))
            context = t[QStringLiteral("browserContextId")].toString();
    ASSERT_FALSE(context.isEmpty());
    QStringList others;
    for (const QJsonValue& t : targets)
        if (t[QStringLiteral("browserContextId")].toString() == context &&
            t[QStringLiteral("type")].toString() != "page" && t[QStringLiteral("type")].toString() != "tab")
            others << t[QStringLiteral("type")].toString() + QLatin1Char(' ') +
                          t[QStringLiteral("url")].toString();
    EXPECT_EQ(others, QStringList());
}

} // namespace
