// check, list and lookup against the simulated web, and every output format: the bytes of
// txt, html and csv are the window's export of the same rows, JSON parses.
#include "cli_test_env.h"

#include "lists/import_export.h"
#include "platform/codec.h"
#include "table/proxy_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace vorsa::test {
namespace {

using sandbox::Behaviour;

struct Row {
    std::string ip, port, location;
    std::optional<std::int32_t> speed;
};

// The rows as the window's table would hold them, written by the window's export. The file's
// date-time text is the one moment the program wrote it: every second of the run is tried.
bool equalsWindowExport(const std::string& bytes, const std::vector<Row>& rows, int format,
                        const CliRun& run, const std::string& scratch) {
    ProxyTable table;
    table.opentable();
    for (const Row& r : rows) {
        table.addrecord();
        table.setfield(Field::Ip, r.ip);
        table.setfield(Field::Port, r.port);
        if (!r.location.empty())
            table.setfield(Field::Location, r.location);
        if (r.speed) {
            table.setflag(Field::Verified, true);
            table.setinteger(Field::Speed, *r.speed);
        }
        table.postrecord();
    }
    for (QDateTime t = run.started.addSecs(-1); t <= run.ended.addSecs(1); t = t.addSecs(1)) {
        QDateTime now = t;
        now.setTime(QTime(t.time().hour(), t.time().minute(), t.time().second()));
        exportlist(table, scratch, format, now);
        if (readFile(scratch) == bytes)
            return true;
    }
    return false;
}

std::set<std::string> proxiesWith(sandbox::Sandbox& web, Behaviour b) {
    std::set<std::string> out;
    for (const sandbox::Proxy& p : web.proxiesWith(b))
        out.insert(p.proxyString());
    return out;
}

// Every proxy of the demo mix but the two that never answer (they would hold the check for
// its full timeout).
QByteArray demoList(sandbox::Sandbox& web) {
    QByteArray list;
    for (const sandbox::Proxy& p : web.proxies())
        if (p.behaviour != Behaviour::NeverAnswer)
            list += QByteArray::fromStdString(p.proxyString()) + "\r\n";
    return list;
}

TEST(CliCheck, PassedProxiesSortedBySpeedInEveryFormat) {
    CliEnv env;
    const QByteArray list = demoList(env.web());
    writeFile(env.path("in.txt"), list.toStdString());
    std::set<std::string> good = proxiesWith(env.web(), Behaviour::Forward);
    for (const std::string& p : proxiesWith(env.web(), Behaviour::ForwardDelayed))
        good.insert(p);

    // To a pipe: ip:port lines (their order by speed is checked on the files below, which
    // carry the speeds).
    const CliRun plain = env.run(qargs({"check"}), list);
    ASSERT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_TRUE(plain.err.isEmpty()) << "stderr is no terminal: " << plain.err.toStdString();
    const std::vector<std::string> got = lines(plain.out);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), good);

    // Every request went to the check page with the validation's user agent.
    bool sawCheck = false;
    for (const sandbox::LoggedRequest& r : env.web().requests()) {
        if (r.listener != "server")
            continue;
        EXPECT_EQ(r.path, "/ip2city.asp");
        EXPECT_EQ(r.userAgent, "Internet Explorer 7.0");
        sawCheck = true;
    }
    EXPECT_TRUE(sawCheck);

    // JSON: UTF-8, parses, the passed proxies with their speeds in ascending order.
    const CliRun json =
        env.run({QStringLiteral("check"), QString::fromStdString(env.path("in.txt")),
                 QStringLiteral("-o"), QString::fromStdString(env.path("out.json"))});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(readFile(env.path("out.json"))), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    std::set<std::string> inJson;
    int lastSpeed = -1;
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject o = v.toObject();
        inJson.insert(o.value(u"ip").toString().toStdString() + ":" +
                      std::to_string(o.value(u"port").toInt()));
        EXPECT_TRUE(o.value(u"verified").toBool());
        EXPECT_TRUE(o.value(u"protocol").isNull());
        EXPECT_TRUE(o.value(u"location").isNull());
        const int speed = o.value(u"speed_ms").toInt(-1);
        EXPECT_GE(speed, lastSpeed);
        lastSpeed = speed;
    }
    EXPECT_EQ(inJson, good);

    // txt, html and csv: the window's export of the rows they hold, byte for byte.
    const std::pair<const char*, int> formats[] = {
        {"txt", TextList}, {"html", HtmlTable}, {"csv", CsvTable}};
    for (const auto& [name, format] : formats) {
        SCOPED_TRACE(name);
        const std::string out = env.path(std::string("out.") + name);
        const CliRun r =
            env.run({QStringLiteral("check"), QString::fromStdString(env.path("in.txt")),
                     QStringLiteral("--format"), QString::fromUtf8(name), QStringLiteral("-o"),
                     QString::fromStdString(out)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const std::string bytes = readFile(out);
        // The rows back from the file (ip:port and speed), then written by the window's code.
        std::vector<Row> rows;
        const std::vector<std::string> fileLines = lines(QByteArray::fromStdString(bytes));
        for (const std::string& line : fileLines) {
            std::string addr, speed;
            if (format == TextList && line.find("ms") == line.size() - 2 &&
                line.find('@') != std::string::npos) {
                addr = line.substr(0, line.find('@'));
                speed = line.substr(line.find('#') + 1, line.size() - line.find('#') - 3);
            } else if (format == HtmlTable && line.rfind("<tr><td>127.", 0) == 0) {
                addr = line.substr(8, line.find("</td>") - 8);
                const auto s = line.find("</td><td>") + 9;
                speed = line.substr(s, line.find("</td></tr>") - s);
            } else if (format == CsvTable && line.rfind("\"127.", 0) == 0) {
                const auto q = [&](int n) {
                    std::size_t pos = 0;
                    for (int i = 0; i < n; ++i)
                        pos = line.find(',', pos) + 1;
                    const auto end = line.find(',', pos);
                    std::string cell = line.substr(pos, end - pos);
                    return cell.size() >= 2 ? cell.substr(1, cell.size() - 2) : std::string();
                };
                addr = q(0) + ":" + q(1);
                speed = q(5);
            } else {
                continue;
            }
            const auto colon = addr.find(':');
            rows.push_back({addr.substr(0, colon), addr.substr(colon + 1), "", std::stoi(speed)});
        }
        std::set<std::string> addrs;
        for (const Row& row : rows)
            addrs.insert(row.ip + ":" + row.port);
        EXPECT_EQ(addrs, good);
        EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(),
                                   [](const Row& a, const Row& b) { return *a.speed < *b.speed; }));
        EXPECT_TRUE(equalsWindowExport(bytes, rows, format, r, env.path("window.out")));
    }
}

TEST(CliCheck, NothingPassingExits1AndLeavesTheOutputAlone) {
    CliEnv env;
    QByteArray list;
    for (Behaviour b : {Behaviour::Answer404, Behaviour::Answer502, Behaviour::StripMarker,
                        Behaviour::CloseAtOnce, Behaviour::NotListening})
        list += QByteArray::fromStdString(env.web().proxy(b).proxyString()) + "\n";
    const std::string out = env.path("kept.txt");
    writeFile(out, "what was there\n");
    const CliRun r =
        env.run({QStringLiteral("check"), QStringLiteral("-o"), QString::fromStdString(out)}, list);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no usable proxy")) << r.err.toStdString();
    EXPECT_EQ(readFile(out), "what was there\n");
}

// list and lookup write deterministic rows: the bytes of each format are compared with the
// window's export of the same rows directly.
TEST(CliCheck, ListAndLookupWriteTheWindowsExportBytes) {
    CliEnv env;
    const std::vector<std::string> ips = {"127.0.0.2", "198.51.100.1", "127.0.0.9", "10.1.2.3"};
    QByteArray input;
    for (std::size_t i = 0; i < ips.size(); ++i)
        input += QByteArray::fromStdString(ips[i] + ":" + std::to_string(8000 + i)) + "\n";
    input += "127.0.0.9:8002\n";  // a repeated line: dropped
    writeFile(env.path("in.txt"), input.toStdString());

    const std::pair<const char*, int> formats[] = {
        {"txt", TextList}, {"html", HtmlTable}, {"csv", CsvTable}};
    for (const bool withLookup : {false, true}) {
        std::vector<Row> rows;
        for (std::size_t i = 0; i < ips.size(); ++i)
            rows.push_back({ips[i], std::to_string(8000 + i),
                            withLookup ? sandbox::locationOf(ips[i]) : std::string(),
                            std::nullopt});
        if (withLookup)
            for (Row& r : rows)
                if (r.location.empty())
                    r.location = gbk::text("未知");
        for (const auto& [name, format] : formats) {
            SCOPED_TRACE(std::string(withLookup ? "lookup " : "list ") + name);
            const std::string out = env.path(std::string("out.") + name);
            const CliRun r = env.run({QString::fromUtf8(withLookup ? "lookup" : "list"),
                                      QString::fromStdString(env.path("in.txt")),
                                      QStringLiteral("-o"), QString::fromStdString(out)});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_TRUE(equalsWindowExport(readFile(out), rows, format, r, env.path("window.out")));
        }
    }
    // To a pipe, lookup gives ip:port, a tab and the location in the terminal's encoding.
    const CliRun plain =
        env.run({QStringLiteral("lookup"), QString::fromStdString(env.path("in.txt"))});
    ASSERT_EQ(plain.exitCode, 0);
    const std::vector<std::string> got = lines(plain.out);
    ASSERT_EQ(got.size(), ips.size());
    EXPECT_EQ(got[1],
              "198.51.100.1:8001\t" +
                  gbk::toUnicode(sandbox::locationOf("198.51.100.1")).toLocal8Bit().toStdString());
}

}  // namespace
}  // namespace vorsa::test
