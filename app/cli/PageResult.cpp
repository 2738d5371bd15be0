#include "app/cli/PageResult.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace app::cli {

PageResult resultFor(const Job& job) {
    PageResult r;
    r.index = job.index;
    r.address = job.address;
    r.output = job.output;
    return r;
}

QByteArray toJsonLine(const PageResult& r) {
    QJsonObject timings{{"open", r.openMs},       {"load", r.loadMs},     {"settle", r.settleMs},
                        {"prepare", r.prepareMs}, {"render", r.renderMs}, {"write", r.writeMs}};
    QJsonObject o{{"index", r.index},     {"address", r.address}, {"output", r.output},
                  {"status", r.status},   {"message", r.message}, {"width", r.width},
                  {"height", r.height},   {"bytes", r.bytes},     {"ms", r.ms},
                  {"skipped", r.skipped}, {"http", r.httpStatus}, {"timings", timings}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<PageResult> fromJsonLine(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject o = document.object();
    if (!o.contains(QLatin1String("index")) || !o.contains(QLatin1String("status"))) return std::nullopt;
    PageResult r;
    r.index = o.value(QLatin1String("index")).toInt();
    r.address = o.value(QLatin1String("address")).toString();
    r.output = o.value(QLatin1String("output")).toString();
    r.status = o.value(QLatin1String("status")).toInt();
    r.message = o.value(QLatin1String("message")).toString();
    r.width = o.value(QLatin1String("width")).toInt();
    r.height = o.value(QLatin1String("height")).toInt();
    r.bytes = o.value(QLatin1String("bytes")).toInteger();
    r.ms = o.value(QLatin1String("ms")).toInteger();
    r.skipped = o.value(QLatin1String("skipped")).toBool();
    r.httpStatus = o.value(QLatin1String("http")).toInt();
    const QJsonObject t = o.value(QLatin1String("timings")).toObject();
    r.openMs = t.value(QLatin1String("open")).toInteger();
    r.loadMs = t.value(QLatin1String("load")).toInteger();
    r.settleMs = t.value(QLatin1String("settle")).toInteger();
    r.prepareMs = t.value(QLatin1String("prepare")).toInteger();
    r.renderMs = t.value(QLatin1String("render")).toInteger();
    r.writeMs = t.value(QLatin1String("write")).toInteger();
    return r;
}

} // namespace app::cli
