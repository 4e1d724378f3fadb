#include "LibraryIndex.h"

#include "ArchiveGeometry.h"
#include "LibraryIndexImpl.h"

IndexRead<std::vector<ChannelSeries>> LibraryIndex::History(int serial, int channels) const {
    IndexRead<std::vector<ChannelSeries>> series;
    if (impl_->NotOpen(series))
        return series;
    auto failed = [&] {
        series.clear();
        series.error = impl_->lastError;
        return series;
    };
    QSqlQuery records(impl_->Db());
    records.setForwardOnly(true);
    if (channels == 0) {
        records.prepare(QStringLiteral("SELECT v.channels FROM visits v WHERE v.serial = ? "
                                       "ORDER BY %1 DESC, v.id DESC LIMIT 1")
                            .arg(kVisitOrder));
        records.addBindValue(serial);
        if (!impl_->Exec(records))
            return failed();
        channels = records.next() ? records.value(0).toInt() : 0;
        records.finish();
    }
    // One query per channel reading the records alone, straight into one buffer: at years of
    // records the reading is most of the time the chart window waits for.
    records.prepare(QStringLiteral("SELECT data FROM records WHERE serial = ? AND channels = ? "
                                   "AND channel = ? ORDER BY time"));
    for (int channel = 1; channel <= MaxChannelCount; ++channel) {
        records.addBindValue(serial);
        records.addBindValue(channels);
        records.addBindValue(channel);
        if (!impl_->Exec(records))
            return failed();
        QByteArray all;
        while (records.next())
            all += records.value(0).toByteArray();
        records.finish();
        series.push_back(ExtractRecordSeries(all));
    }
    // As many channels as the controller has records of.
    while (!series.empty() && series.back().Empty() && series.back().invalidTimes == 0)
        series.pop_back();
    return series;
}
