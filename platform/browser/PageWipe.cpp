// Clearing a page away so that its context and renderer serve the next address: the document
// goes, then every trace it left, then the next navigation is made.
#include "platform/browser/BrowserError.h"
#include "platform/browser/BrowserTesting.h"
#include "platform/browser/PageSession.h"

#include <QTimer>
#include <functional>
#include <memory>

namespace browser {
namespace {

// How long the blank page that follows a page may take to answer once it is there. The renderer
// is the page's own: one that does not answer is held by what the page left running (an unload
// or pagehide handler that never returns), and would hold the next page until its time ran out.
constexpr int blankAnswerMs = 3000;

} // namespace

bool PageSession::navigateWiped(const QUrl& url) {
    if (!current() || m_stalled || m_probing || timeHeld() || m_live || m_narrowed || m_foreign ||
        !m_setUpCalls.empty() || m_pendingUrl || m_wiping || m_mainOrigin.empty())
        return false;
    try {
        m_cache.dropAhead(*this);
        // Windows the page opened and frames in renderers of their own: their storage is kept
        // apart per top-level site, out of reach of a wipe by origin.
        const Json targets = connection()
                                 .call("Target.getTargets", Json::object(), {}, limitMs(quickMs))
                                 .json.value("targetInfos", Json::array());
        for (const Json& target : targets) {
            if (target.value("browserContextId", std::string()) != m_contextId ||
                target.value("targetId", std::string()) == m_targetId)
                continue;
            const std::string type = target.value("type", std::string());
            if (type == "browser_ui") continue; // the engine's own window parts
            const bool worker = type == "worker" || type == "shared_worker" || type == "service_worker";
            if (!worker || originOf(target.value("url", std::string())) != m_mainOrigin) return false;
        }
    } catch (const BrowserError&) {
        return false;
    }
    // From here on the page is the next one's, and what follows runs while the caller goes on
    // (the command-line tool with the page before): the document goes first, so that none of
    // its timers or unload handlers runs once its traces are wiped; then the traces; then the
    // navigation, as navigate() makes it.
    ++m_navigation;
    m_loaded = false;
    m_navigationError.clear();
    m_documentStatus = 0;
    m_wipeFailed = false;
    m_blankLoader.clear();
    m_wiping = true;
    forgetScroll();
    wipeStep(WipeStep::Blank, url, 0);
    return true;
}

void PageSession::wipeStep(WipeStep step, const QUrl& url, int attempt) {
    const std::uint64_t navigation = m_navigation;
    const std::uint64_t call = ++m_wipeCall;
    m_wipeAt = step;
    std::weak_ptr<PageSession*> self = m_self;
    // The next step once this one is answered; a failure ends the page's navigation with it.
    auto then = [self, navigation, call, url](WipeStep next, int nextAttempt,
                                              std::function<bool(PageSession&, const Message&)> take = {}) {
        return [self, navigation, call, url, next, nextAttempt, take](const Message* result,
                                                                      const QString& error) {
            const auto page = self.lock();
            if (!page || !*page || (*page)->m_navigation != navigation || (*page)->m_wipeCall != call) return;
            PageSession& s = **page;
            if (result && (!take || take(s, *result))) return s.wipeStep(next, url, nextAttempt);
            // Asked while the page before was still there: it went, and the blank page is asked.
            if (!result && next == WipeStep::Traces && nextAttempt < 3)
                return s.wipeStep(WipeStep::Gone, url, nextAttempt);
            s.failWipe(error);
        };
    };
    Connection& c = connection();
    switch (step) {
    case WipeStep::Blank:
        if (engine::takeWipeFailure()) {
            QTimer::singleShot(0, [refused = then(WipeStep::Gone, 0)] {
                refused(nullptr, QStringLiteral("The browser engine refused Page.navigate: made to fail"));
            });
            return;
        }
        c.callAsync("Page.navigate", {{"url", "about:blank"}}, m_sessionId,
                    then(WipeStep::Gone, 0, [](PageSession& s, const Message& m) {
                        s.m_blankLoader = m.json.value("loaderId", std::string());
                        return !s.m_blankLoader.empty();
                    }));
        return;
    case WipeStep::Gone:
        if (attempt == 0)
            QTimer::singleShot(blankAnswerMs, [self, navigation] {
                const auto page = self.lock();
                if (page && *page && (*page)->m_navigation == navigation && (*page)->m_wiping &&
                    (*page)->m_wipeAt == WipeStep::Gone)
                    (*page)->failWipe(QStringLiteral("its renderer did not answer within %1 s of leaving it")
                                          .arg(blankAnswerMs / 1000));
            });
        // Asked of the page before while it is still there, the question stays open until that
        // page goes, and then fails.
        c.callAsync("Runtime.evaluate",
                    {{"expression", "location.href === 'about:blank' || new Promise(() => {})"},
                     {"awaitPromise", true},
                     {"returnByValue", true}},
                    m_sessionId, then(WipeStep::Traces, attempt + 1, [](PageSession&, const Message& m) {
                        return m.json.value("result", Json::object()).value("value", false);
                    }));
        return;
    case WipeStep::Traces: {
        // All at once; the navigation follows the last answer. The history goes too: the next
        // page finds one of its own, and a long batch keeps no list of its pages.
        auto left = std::make_shared<std::size_t>(m_origins.size() + 2);
        auto failed = std::make_shared<bool>(false);
        auto next = then(WipeStep::Navigate, 0);
        auto counted = [left, failed, next](const Message* result, const QString& error) {
            if (*failed) return;
            if (!result) {
                *failed = true;
                return next(nullptr, error);
            }
            if (--*left == 0) next(result, error);
        };
        c.callAsync("Storage.clearCookies", {{"browserContextId", m_contextId}}, {}, counted);
        c.callAsync("Page.resetNavigationHistory", Json::object(), m_sessionId, counted);
        for (const std::string& origin : m_origins)
            c.callAsync("Storage.clearDataForOrigin", {{"origin", origin}, {"storageTypes", "all"}},
                        m_sessionId, counted);
        m_origins.clear();
        m_mainOrigin.clear();
        m_frameUrls.clear();
        m_requests.clear();
        m_networkChanged = Clock::now();
        return;
    }
    case WipeStep::Navigate:
        m_wiping = false;
        if (!m_cookies.empty()) {
            c.callAsync("Network.setCookies", {{"cookies", cookiesFor(url)}}, m_sessionId,
                        then(WipeStep::Load, 0));
            return;
        }
        startNavigation(url);
        return;
    case WipeStep::Load:
        startNavigation(url);
        return;
    }
}

void PageSession::failWipe(const QString& error) {
    ++m_wipeCall; // an answer still to come belongs to no step
    m_wiping = false;
    m_wipeFailed = true;
    m_navigationError = QStringLiteral("the page before it could not be cleared away (%1)")
                            .arg(error.isEmpty() ? QStringLiteral("it did not make way") : error);
}

} // namespace browser
