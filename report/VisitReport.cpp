#include "VisitReport.h"

#include "ArchiveDecoder.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "BlocksReadText.h"
#include "ChannelSummary.h"
#include "FindingSpans.h"
#include "IdentityJournal.h"
#include "PageFlow.h"
#include "RecordsOverwritten.h"
#include "TextGrid.h"

#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>

namespace {

QString Or(const QString& text, const QString& otherwise) {
    return text.isEmpty() ? otherwise : text;
}

QString LocalTimeText(const QDateTime& t) {
    if (!t.isValid())
        return QStringLiteral("не известно");
    const int offset = t.offsetFromUtc();
    return t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) +
           QStringLiteral(" (UTC%1%2:%3)")
               .arg(offset < 0 ? QStringLiteral("−") : QStringLiteral("+"))
               .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

QString Days(double days) {
    return QString::number(days, 'f', 1).replace(u'.', u',');
}

class ReportWriter {
public:
    ReportWriter(const VisitReportInput& in, const std::vector<ChannelPictures>& charts,
                 PageFlow& flow, const ReportProgress& progress)
        : in_(in), visit_(in.visit), charts_(charts), flow_(flow), progress_(progress) {
        series_ = ExtractChartSeries(visit_.current.image, visit_.current.channelCount);
        if (visit_.previous)
            previousSeries_ =
                ExtractChartSeries(visit_.previous->image, visit_.previous->channelCount);
        for (const ChannelSeries& s : series_)
            anyRecord_ = anyRecord_ || !s.Empty();
        found_ = FindFindings(FindingsInputOf(visit_, in_.settingsHeadings), series_);
    }

    void Write() {
        Step(5);
        Front();
        Step(15);
        if (!anyRecord_) {
            NoRecords();
        } else {
            Periods();
            Temperatures();
        }
        Step(30);
        Findings();
        Step(45);
        Settings();
        Journal();
        Step(55);
        if (anyRecord_)
            Charts();
        Step(95);
    }

private:
    void Step(int percent) {
        if (progress_)
            progress_(percent);
    }

    void Front() {
        const ArchiveFileContents& a = visit_.current;
        flow_.Title(QStringLiteral("Отчёт о посещении"));
        flow_.Paragraph(QStringLiteral("Составлен %1 по архиву %2.")
                            .arg(in_.madeAt.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                                 Or(QFileInfo(visit_.path).fileName(),
                                    QStringLiteral("(архив не сохранён в файл)"))));
        flow_.Heading(QStringLiteral("Регулятор"));
        flow_.Paragraph(QStringLiteral("Идентификация: %1")
                            .arg(Or(a.identification, QStringLiteral("не известна"))));
        flow_.Paragraph(
            QStringLiteral("Серийный номер: %1")
                .arg(a.serial ? QString::number(*a.serial) : QStringLiteral("не известен")));
        flow_.Paragraph(
            QStringLiteral("Сетевой адрес: %1")
                .arg(a.address ? QString::number(*a.address) : QStringLiteral("не известен")));
        flow_.Paragraph(
            QStringLiteral("Место установки: %1").arg(Or(a.comment, QStringLiteral("не указано"))));
        flow_.Paragraph(QStringLiteral("Каналов: %1").arg(a.channelCount));

        flow_.Heading(QStringLiteral("Снятие архива"));
        flow_.Paragraph(QStringLiteral("Время: %1").arg(LocalTimeText(a.downloadedAt)));
        flow_.Paragraph(QStringLiteral("Порт: %1").arg(Or(a.port, QStringLiteral("не известен"))));
        if (a.blocksRead)
            flow_.Paragraph(QStringLiteral("Чтение: только новые записи, %1")
                                .arg(BlocksReadText(a.blocksRead)));
        const QByteArray sha = ArchiveImageSha256(a.image).toHex();
        flow_.Paragraph(
            QStringLiteral("SHA-256 образа (начало): %1").arg(QString::fromLatin1(sha.left(16))));

        flow_.Heading(QStringLiteral("Прошлое посещение"));
        if (visit_.previous) {
            QString text = QStringLiteral("Архив %1, снят %2.")
                               .arg(QFileInfo(visit_.previousPath).fileName(),
                                    LocalTimeText(visit_.previous->downloadedAt));
            if (visit_.previous->downloadedAt.isValid() && a.downloadedAt.isValid())
                text +=
                    QStringLiteral(" Дней с прошлого посещения: %1.")
                        .arg(Days(visit_.previous->downloadedAt.secsTo(a.downloadedAt) / 86400.0));
            flow_.Paragraph(text);
        } else {
            flow_.Paragraph(visit_.previousNote +
                            QStringLiteral(" Сравнения с прошлым посещением нет."));
        }
    }

    void NoRecords() {
        int invalid = 0;
        for (const ChannelSeries& s : series_)
            invalid += s.invalidTimes;
        flow_.Heading(QStringLiteral("Записи архива"));
        flow_.Paragraph(invalid > 0
                            ? QStringLiteral("Ни у одной записи архива нет верной даты и времени "
                                             "(записей: %1): статистики и графиков нет.")
                                  .arg(invalid)
                            : QStringLiteral("В архиве нет ни одной действительной записи: "
                                             "статистики и графиков нет."));
    }

    void Periods() {
        flow_.Heading(QStringLiteral("Период архива"));
        FlowTable t;
        t.headings = {QStringLiteral("Канал"),
                      QStringLiteral("Первая запись"),
                      QStringLiteral("Последняя запись"),
                      QStringLiteral("Записей"),
                      QStringLiteral("Без верного времени"),
                      QStringLiteral("Потеряно при перезаписи, дней")};
        t.widths = {0.7, 1.6, 1.6, 1, 1.2, 1.6};
        for (std::size_t k = 0; k < series_.size(); ++k) {
            const ChannelSummary s = SummarizeChannel(series_[k]);
            QString lost = QStringLiteral("—");
            // Records of the time between the previous visit's newest record and this
            // archive's oldest one are in neither archive: the ring wrote over them. The library
            // counts them the same way (the interval: this archive's, else the previous one's).
            if (visit_.previous && k < previousSeries_.size() && !previousSeries_[k].Empty() &&
                s.records > 0) {
                const ChannelSeries& before = previousSeries_[k];
                const double interval =
                    series_[k].logInterval > 0 ? series_[k].logInterval : before.logInterval;
                lost = Days(static_cast<double>(SecondsOverwritten(
                                static_cast<qint64>(before.time.back()),
                                static_cast<qint64>(s.first), static_cast<qint64>(interval))) /
                            86400.0);
            }
            t.rows.push_back({QString::number(k + 1),
                              s.records ? FindingTimeShort(s.first) : QStringLiteral("нет записей"),
                              s.records ? FindingTimeShort(s.last) : QString(),
                              QString::number(s.records), QString::number(s.invalidTimes), lost});
        }
        flow_.Table(t);
        if (!visit_.previous)
            flow_.Paragraph(QStringLiteral("Потери при перезаписи считаются только по прошлому "
                                           "посещению того же регулятора."),
                            8);
    }

    void Temperatures() {
        for (std::size_t k = 0; k < series_.size(); ++k) {
            flow_.Heading(QStringLiteral("Температуры, канал %1").arg(k + 1));
            const ChannelSummary s = SummarizeChannel(series_[k]);
            if (s.records == 0) {
                flow_.Paragraph(QStringLiteral("Нет записей с верной датой и временем."));
                continue;
            }
            FlowTable t;
            t.headings = {QStringLiteral("Датчик"),      QStringLiteral("Минимум, °C"),
                          QStringLiteral("Когда"),       QStringLiteral("Максимум, °C"),
                          QStringLiteral("Когда"),       QStringLiteral("Среднее, °C"),
                          QStringLiteral("Без значения")};
            t.widths = {0.9, 1, 1.5, 1, 1.5, 1, 1};
            for (int f = 0; f < ChartTemperatureCount; ++f) {
                const TemperatureSummary& ts = s.temperatures[f];
                const QString none = QStringLiteral("—");
                t.rows.push_back({ChartFieldName(static_cast<ChartField>(f)),
                                  ts.min ? FindingDegrees(*ts.min) : none,
                                  ts.min ? FindingTimeShort(ts.minTime) : none,
                                  ts.max ? FindingDegrees(*ts.max) : none,
                                  ts.max ? FindingTimeShort(ts.maxTime) : none,
                                  ts.mean ? FindingDegrees(*ts.mean) : none,
                                  QString::number(ts.missing)});
            }
            flow_.Table(t);
        }
    }

    void Findings() {
        flow_.Heading(QStringLiteral("Находки (сначала новые)"));
        if (!found_.notJudged.isEmpty()) {
            flow_.Paragraph(
                QStringLiteral("Архив не проверен на находки: %1.").arg(found_.notJudged));
            return;
        }
        const std::vector<Finding>& found = found_.findings;
        if (found.empty()) {
            flow_.Paragraph(anyRecord_ ? QStringLiteral("Ничего подозрительного не найдено.")
                                       : QStringLiteral("Без записей искать нечего."));
            return;
        }
        FlowTable t;
        t.headings = {QStringLiteral("Канал"), QStringLiteral("Что"), QStringLiteral("С"),
                      QStringLiteral("По"), QStringLiteral("Датчик")};
        t.widths = {0.6, 1.8, 1.4, 1.4, 1.2};
        for (const Finding& f : found) {
            t.rows.push_back({QString::number(f.channel), FindingKindTitle(f.kind),
                              FindingTimeShort(f.from), FindingTimeShort(f.to), f.sensor});
            t.notes << f.detail;
        }
        flow_.Table(t);
    }

    void Settings() {
        const int channels = visit_.current.channelCount;
        for (int ch = 1; ch <= channels; ++ch) {
            flow_.Heading(QStringLiteral("Настройки, канал %1").arg(ch));
            const TextGrid now = DecodeSettingsRows(visit_.current.image, channels, ch);
            std::optional<TextGrid> before;
            if (visit_.previous)
                before = DecodeSettingsRows(visit_.previous->image, channels, ch);
            FlowTable t;
            t.fontPoints = 5.8;
            for (int c = 0; c < SettingsGridColumns; ++c)
                t.headings << (c < in_.settingsHeadings.size() ? in_.settingsHeadings[c]
                                                               : QString::number(c));
            t.widths = std::vector<double>(SettingsGridColumns, 1.0);
            t.widths[1] = t.widths[2] = 1.1;
            t.widths[0] = 0.35;
            t.widths[15] = 1.25;
            bool anyMarked = false;
            for (int row = 1; row <= SettingsBlockCount; ++row) {
                QStringList cells;
                std::vector<bool> marks(SettingsGridColumns, false);
                const bool valid = !now.Cell(0, row).isEmpty();
                for (int c = 0; c < SettingsGridColumns; ++c) {
                    cells << (valid    ? now.Cell(c, row)
                              : c == 0 ? QString::number(row)
                              : c == 1 ? QStringLiteral("стёрт")
                                       : QString());
                    if (before && c >= 3 && before->Cell(c, row) != now.Cell(c, row)) {
                        marks[c] = true;
                        anyMarked = true;
                    }
                }
                t.rows.push_back(cells);
                t.marked.push_back(marks);
            }
            flow_.Table(t);
            flow_.Paragraph(!before ? QStringLiteral("Не сравнивались: прошлого посещения для "
                                                     "сравнения нет.")
                            : anyMarked ? QStringLiteral("Выделено жирным на цветном фоне: "
                                                         "изменено с прошлого посещения.")
                                        : QStringLiteral("С прошлого посещения не изменились."),
                            8);
        }
    }

    void Journal() {
        flow_.Heading(QStringLiteral("Изменения идентичности (журнал)"));
        if (!visit_.current.serial) {
            flow_.Paragraph(QStringLiteral("Серийный номер регулятора не известен: журнал не "
                                           "просмотрен."));
            return;
        }
        if (in_.journalPath.isEmpty()) {
            flow_.Paragraph(QStringLiteral("Журнал изменений идентичности не ведётся."));
            return;
        }
        QString error;
        const QString text = ReadJournalNewestFirst(in_.journalPath, &error);
        if (!error.isEmpty()) {
            flow_.Paragraph(
                QStringLiteral("Журнал %1 не прочитан: %2").arg(in_.journalPath, error));
            return;
        }
        // A line concerns this controller when its serial number was that before or after.
        const QRegularExpression mine(
            QStringLiteral("\\bserial=%1\\b").arg(*visit_.current.serial));
        int shown = 0;
        for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
            if (mine.match(line).hasMatch()) {
                flow_.Paragraph(QString(line).replace(u'\t', QStringLiteral("   ")), 7.5);
                ++shown;
            }
        if (shown == 0)
            flow_.Paragraph(
                QStringLiteral("Изменений идентичности этого регулятора в журнале нет."));
    }

    void Charts() {
        for (std::size_t k = 0; k < series_.size(); ++k) {
            flow_.NewPage();
            flow_.Heading(QStringLiteral("Графики, канал %1").arg(k + 1));
            if (k >= charts_.size()) {
                flow_.Paragraph(QStringLiteral("График канала не нарисован."));
                continue;
            }
            if (charts_[k].empty) {
                flow_.Paragraph(QStringLiteral("Нет записей для графика."));
                continue;
            }
            const ChannelPictures& p = charts_[k];
            const std::vector<Finding> marked = Marked(static_cast<int>(k) + 1);
            auto place = [&](const QPicture& picture, QSize size, double widthShare,
                             const std::vector<Finding>& spans) {
                const double scale = flow_.Width() * widthShare / size.width();
                flow_.Block(size.height() * scale + flow_.Points(6),
                            [&](QPainter& painter, const QRectF& r) {
                                painter.translate(r.topLeft());
                                painter.scale(scale, scale);
                                DrawSpans(painter, p, spans);
                                painter.drawPicture(0, 0, picture);
                            });
            };
            flow_.Paragraph(
                QStringLiteral("Температуры по времени, под ними состояния реле Р1–Р8."), 8);
            place(p.time, p.timeSize, 1.0, marked);
            if (!marked.empty())
                flow_.Paragraph(QStringLiteral("Находки канала %1 отмечены на графике: %2.")
                                    .arg(k + 1)
                                    .arg(marked.size()),
                                8);
            flow_.Paragraph(QStringLiteral("Отопительный график: подача (Тпод) и цель графика "
                                           "(Тграф) по наружной температуре (Тнар.)."),
                            8);
            place(p.curve, p.curveSize, 0.7, {});
            Step(55 + static_cast<int>(40 * (k + 1) / series_.size()));
        }
    }

    // The findings of a channel that lie among its records, to mark on its time chart (a
    // settings change spans the time between two visits, not records).
    std::vector<Finding> Marked(int channel) const {
        std::vector<Finding> marked;
        for (const Finding& f : found_.findings)
            if (f.channel == channel && f.kind != FindingKind::SettingsChanged)
                marked.push_back(f);
        return marked;
    }

    // The spans as the chart window marks them, under the time chart's picture (in its
    // coordinates), opaque: a PDF/A page has no transparency.
    static void DrawSpans(QPainter& painter, const ChannelPictures& p,
                          const std::vector<Finding>& spans) {
        const double length = p.timeTo - p.timeFrom;
        if (spans.empty() || length <= 0)
            return;
        const FindingSpanLook look = FindingSpanStyle(true);
        painter.save();
        painter.setClipRect(p.timeArea);
        painter.setPen(look.pen);
        painter.setBrush(look.brush);
        auto x = [&](qint64 t) {
            return p.timeArea.left() +
                   (static_cast<double>(t) - p.timeFrom) / length * p.timeArea.width();
        };
        for (const Finding& f : spans)
            painter.drawRect(
                QRectF(QPointF(x(f.from), p.timeArea.top()), QPointF(x(f.to), p.timeArea.bottom()))
                    .normalized());
        painter.restore();
    }

    const VisitReportInput& in_;
    const VisitArchives& visit_;
    const std::vector<ChannelPictures>& charts_;
    PageFlow& flow_;
    const ReportProgress& progress_;
    std::vector<ChannelSeries> series_, previousSeries_;
    bool anyRecord_ = false;
    FindingsResult found_;
};

} // namespace

QString WriteVisitReport(const VisitReportInput& input, const std::vector<ChannelPictures>& charts,
                         const QString& pdfPath, const ReportProgress& progress) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(pdfPath).absolutePath());
    QSaveFile file(pdfPath);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Отчёт не записан в папку %1: %2").arg(folder, file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b); // fonts embedded, no transparency
        writer.setResolution(96);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Отчёт о посещении"));
        writer.setCreator(QStringLiteral("kv9000"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            return QStringLiteral("Отчёт не записан в папку %1: PDF не создан").arg(folder);
        }
        PageFlow flow(writer, painter);
        ReportWriter(input, charts, flow, progress).Write();
        painter.end();
    }
    // flush() before commit(): a commit whose own flush fails (a full disk) still replaces the
    // target, with an empty file.
    if (!file.flush() || !file.commit())
        return QStringLiteral("Отчёт не записан в папку %1: %2").arg(folder, file.errorString());
    if (progress)
        progress(100);
    return {};
}
