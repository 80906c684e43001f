// The report: the spread of a sample, and the printed table and JSON line.
#include "bench.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

Stats statsOf(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))]; };
    const auto share = [&](double limit) {
        return 100.0 * double(v.end() - std::upper_bound(v.begin(), v.end(), limit)) / double(v.size());
    };
    return {at(0.5), at(0.99), v.back(), share(500), share(1000), share(2000)};
}

double median(std::vector<double> v)
{
    return statsOf(std::move(v)).median;
}

void Report::title(const char *text)
{
    std::printf("\n%s\n", text);
}

void Report::note(const QString &text)
{
    std::printf("  %s\n", qPrintable(text));
}

void Report::pair(const QString &what, double ours, double reference, const char *unit, const QString &key)
{
    std::printf("  %-52s tarvek %9.3f %-3s bare Qt %9.3f %-3s ratio %5.2f\n", qPrintable(what), ours, unit, reference,
                unit, reference != 0 ? ours / reference : 0.0);
    if (key.isEmpty())
        return;
    m_json[key] = ours;
    m_json[QStringLiteral("ref_") + key] = reference;
}

void Report::stats(const QString &what, const Stats &s, const QString &key)
{
    std::printf("  %-52s median %8.1f  p99 %8.1f  max %8.1f us  >0.5 ms %5.2f%%  >1 ms %5.2f%%  >2 ms %5.2f%%\n",
                qPrintable(what), s.median, s.p99, s.max, s.over05, s.over1, s.over2);
    m_json[key] = s.median;
    m_json[key + QStringLiteral("_p99")] = s.p99;
    m_json[key + QStringLiteral("_over1ms_pct")] = s.over1;
    m_json[key + QStringLiteral("_over2ms_pct")] = s.over2;
}

void Report::line(const QString &what, double value, const char *unit, const QString &key)
{
    std::printf("  %-52s %9.3f %s\n", qPrintable(what), value, unit);
    if (!key.isEmpty())
        m_json[key] = value;
}

void Report::finish() const
{
    std::printf("%s\n", QJsonDocument(m_json).toJson(QJsonDocument::Compact).constData());
}
