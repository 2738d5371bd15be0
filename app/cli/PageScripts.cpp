#include "app/cli/PageScripts.h"

#include "platform/browser/BrowserView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace app::cli {
namespace {

int msLeft(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::clamp<long long>(left.count(), 1, 86400000));
}

QJsonValue evaluateJson(browser::BrowserView& view, const QString& expression, Deadline deadline) {
    const QByteArray text = view.evaluateOwn(expression, msLeft(deadline)).toUtf8();
    // The value comes as JSON text; wrapped, so that a bare string or number parses too.
    const QJsonDocument document = QJsonDocument::fromJson("[" + text + "]");
    return document.array().at(0);
}

// A selector the engine refuses shows as a SyntaxError inside the page; the user gets it in
// plain words, naming the option.
[[noreturn]] void invalidSelector(const char* option, const QString& css) {
    throw browser::BrowserError(
        QStringLiteral("%1: \"%2\" is not a valid CSS selector").arg(QLatin1String(option), css));
}

} // namespace

QString jsString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

bool waitForElement(browser::BrowserView& view, const QString& css, Deadline deadline) {
    // Mutations cover elements that scripts add; the slow poll covers matches that change with
    // no mutation at all (:checked, a property set by script). The page gives up a little before
    // the deadline, so that its answer still arrives in time.
    const int pageMs = std::max(0, msLeft(deadline) - 300);
    const QString script = QStringLiteral(R"((() => {
  const css = %1;
  try { document.querySelector(css); } catch (e) { return "invalid"; }
  const found = () => document.querySelector(css) !== null;
  if (found()) return "found";
  return new Promise(resolve => {
    const done = answer => { observer.disconnect(); clearInterval(poll); clearTimeout(limit); resolve(answer); };
    const check = () => { if (found()) done("found"); };
    const observer = new MutationObserver(check);
    observer.observe(document, {subtree: true, childList: true, attributes: true, characterData: true});
    const poll = setInterval(check, 100);
    const limit = setTimeout(() => done(found() ? "found" : "none"), %2);
  });
})())")
                               .arg(jsString(css))
                               .arg(pageMs);
    const QString answer = evaluateJson(view, script, deadline).toString();
    if (answer == QLatin1String("invalid")) invalidSelector("--wait-for", css);
    return answer == QLatin1String("found");
}

void runScript(browser::BrowserView& view, const QString& code, Deadline deadline) {
    try {
        view.evaluate(code, msLeft(deadline));
    } catch (const browser::BrowserTimeout&) {
        throw;
    } catch (const browser::BrowserError& e) {
        // The error's first line; the stack after it points into the tool's own wrapper.
        throw browser::BrowserError(
            QStringLiteral("--javascript: %1").arg(e.text().section(QLatin1Char('\n'), 0, 0)));
    }
}

void hideElements(browser::BrowserView& view, const QStringList& selectors, Deadline deadline) {
    QJsonArray list;
    for (const QString& css : selectors)
        list.append(css);
    // A style rule also hides what is added later; the inline style on what matches now holds
    // even where the page's content security policy refuses style elements.
    const QString script = QStringLiteral(R"((() => {
  const list = %1;
  for (const css of list) { try { document.querySelectorAll(css); } catch (e) { return css; } }
  const style = document.createElement("style");
  style.textContent = list.map(css => css + " { visibility: hidden !important; }").join("\n");
  (document.head || document.documentElement).appendChild(style);
  for (const css of list)
    for (const element of document.querySelectorAll(css))
      if (element.style) element.style.setProperty("visibility", "hidden", "important");
  return "";
})())")
                               .arg(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    const QString refused = evaluateJson(view, script, deadline).toString();
    if (!refused.isEmpty()) invalidSelector("--hide", refused);
}

void hideCaret(browser::BrowserView& view, Deadline deadline) {
    // The caret is drawn in the element that has the focus of the focused document, inside
    // shadow roots and frames; its colour is inherited, so a host or a frame's element covers
    // what it holds. A style on the element itself outranks the page's rules, also where the
    // page's content security policy refuses style elements.
    const QString script = QStringLiteral(R"((() => {
  let doc = document;
  for (let depth = 0; doc && depth < 32; ++depth) {
    let element = doc.activeElement;
    if (!element) return;
    while (element.shadowRoot && element.shadowRoot.activeElement) element = element.shadowRoot.activeElement;
    if (element.tagName === "IFRAME" || element.tagName === "FRAME") {
      try { doc = element.contentDocument; } catch (e) { return; }
      continue;
    }
    const editable = element.isContentEditable || doc.designMode === "on" ||
      element.tagName === "TEXTAREA" || (element.tagName === "INPUT" && element.type !== "hidden");
    if (editable && element.style) element.style.setProperty("caret-color", "transparent", "important");
    return;
  }
})())");
    evaluateJson(view, script, deadline);
}

ElementBox elementBox(browser::BrowserView& view, const QString& css, Deadline deadline) {
    const QString script = QStringLiteral(R"((() => {
  let element;
  try { element = document.querySelector(%1); } catch (e) { return "invalid"; }
  if (!element) return null;
  // Boxes of the page that scroll (an application's content pane, a carousel) are scrolled to
  // show the element, as little as they must, each from the innermost out; the page itself is
  // not, the view grows for that.
  for (let box = element.parentElement; box && box !== document.documentElement; box = box.parentElement) {
    if (box === document.scrollingElement) continue;
    const style = getComputedStyle(box);
    if (!/auto|scroll|hidden|overlay/.test(style.overflowX + style.overflowY)) continue;
    const r = element.getBoundingClientRect(), b = box.getBoundingClientRect();
    const into = (start, size, from, room) =>
      size > room || start < from ? start - from : Math.max(0, start + size - (from + room));
    const dx = into(r.left, r.width, b.left + box.clientLeft, box.clientWidth);
    const dy = into(r.top, r.height, b.top + box.clientTop, box.clientHeight);
    if (dx || dy) box.scrollBy({left: dx, top: dy, behavior: 'instant'});
  }
  const r = element.getBoundingClientRect();
  return {x: r.left, y: r.top, width: r.width, height: r.height, scrollY: window.scrollY};
})())")
                               .arg(jsString(css));
    const QJsonValue value = evaluateJson(view, script, deadline);
    if (value.toString() == QLatin1String("invalid")) invalidSelector("--selector", css);
    ElementBox result;
    if (!value.isObject()) return result;
    const QJsonObject o = value.toObject();
    result.found = true;
    result.box =
        QRectF(o.value(QLatin1String("x")).toDouble(), o.value(QLatin1String("y")).toDouble(),
               o.value(QLatin1String("width")).toDouble(), o.value(QLatin1String("height")).toDouble());
    result.scrollY = o.value(QLatin1String("scrollY")).toDouble();
    return result;
}

QList<QRect> otherOriginFramesBelow(browser::BrowserView& view, int layoutHeight, const QRect& part,
                                    Deadline deadline) {
    const QString script = QStringLiteral(R"((() => {
  const below = [];
  for (const f of document.querySelectorAll('iframe, frame')) {
    if (f.contentDocument !== null) continue;
    const r = f.getBoundingClientRect();
    if (r.width <= 0 || r.height <= 0 || getComputedStyle(f).visibility !== 'visible') continue;
    if (r.top >= %1 && r.top < %3 && r.bottom > %2 && r.left < %5 && r.right > %4)
      below.push([r.left, r.top, r.right, r.bottom].map(Math.round));
  }
  return below;
})())")
                               .arg(layoutHeight)
                               .arg(part.top())
                               .arg(part.bottom() + 1)
                               .arg(part.left())
                               .arg(part.right() + 1);
    QList<QRect> boxes;
    for (const QJsonValue& box : evaluateJson(view, script, deadline).toArray()) {
        const QJsonArray edges = box.toArray();
        const QRect r(QPoint(edges.at(0).toInt(), edges.at(1).toInt()),
                      QPoint(edges.at(2).toInt() - 1, edges.at(3).toInt() - 1));
        if (r.isValid()) boxes << r;
    }
    return boxes;
}

int innerScrollingHeight(browser::BrowserView& view, Deadline deadline) {
    const QString script = QStringLiteral(R"((() => {
  const w = innerWidth, h = innerHeight;
  if (document.documentElement.scrollHeight > h + 1) return 0;
  let best = null, most = w * h / 4;
  for (const e of document.querySelectorAll('*')) {
    if (e.scrollHeight <= e.clientHeight + 1 || !/auto|scroll|overlay/.test(getComputedStyle(e).overflowY))
      continue;
    const r = e.getBoundingClientRect();
    const shown = Math.max(0, Math.min(r.right, w) - Math.max(r.left, 0)) *
                  Math.max(0, Math.min(r.bottom, h) - Math.max(r.top, 0));
    if (shown > most) { most = shown; best = e; }
  }
  return best ? Math.ceil(h + best.scrollHeight - best.clientHeight) : 0;
})())");
    return evaluateJson(view, script, deadline).toInt();
}

int scrollToRowWithoutFixed(browser::BrowserView& view, int y, const QRect& box, Deadline deadline) {
    const QString script = QStringLiteral(R"((async () => {
  const hidden = (window[Symbol.for('velmora.fixed')] ??= []);
  if (!hidden.length) {
    for (const e of document.querySelectorAll('*')) {
      const position = getComputedStyle(e).position;
      if ((position !== 'fixed' && position !== 'sticky') || e.querySelector('iframe, frame')) continue;
      hidden.push([e, e.style.getPropertyValue('visibility'), e.style.getPropertyPriority('visibility')]);
      e.style.setProperty('visibility', 'hidden', 'important');
    }
  }
  window.scrollTo({left: 0, top: %1, behavior: 'instant'});
  await Promise.race([
    new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))),
    new Promise(r => setTimeout(r, 1000)),
  ]);
  await new Promise(r => setTimeout(r, 150));
  // The frame must still be where it was measured: a page that changes as it scrolls may have
  // moved it.
  const top = Math.round(scrollY);
  const there = [...document.querySelectorAll('iframe, frame')].some(f => {
    const r = f.getBoundingClientRect();
    return [r.left, r.top + top, r.right, r.bottom + top].map(Math.round).join() === '%2';
  });
  return there ? top : -1;
})())")
                               .arg(y)
                               .arg(QStringLiteral("%1,%2,%3,%4")
                                        .arg(box.left())
                                        .arg(box.top())
                                        .arg(box.right() + 1)
                                        .arg(box.bottom() + 1));
    return evaluateJson(view, script, deadline).toInt();
}

void restoreFixed(browser::BrowserView& view, Deadline deadline) {
    view.evaluateOwn(QStringLiteral(R"((() => {
  const hidden = window[Symbol.for('velmora.fixed')] ?? [];
  for (const [e, value, priority] of hidden) {
    if (value) e.style.setProperty('visibility', value, priority);
    else e.style.removeProperty('visibility');
  }
  hidden.length = 0;
  window.scrollTo({left: 0, top: 0, behavior: 'instant'});
})())"),
                     msLeft(deadline));
}

void scrollToTop(browser::BrowserView& view, Deadline deadline) {
    view.evaluateOwn(QStringLiteral("window.scrollTo(0, 0)"), msLeft(deadline));
}

} // namespace app::cli
