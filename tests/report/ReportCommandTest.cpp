// kv9000 --findings and kv9000 --report run as the user runs them, without a display, on kept
// archive files of a simulated controller with faults planted at known times.

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ChannelSummary.h"
#include "Finding.h"
#include "SimArchive.h"
#include "SimOptions.h"
#include "SimPlantedFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

Outcome Kv9000(const QStringList& args, const QString& dataHome) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"), args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString PdfText(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    // Lines wrap inside table cells: words count, not line breaks.
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

// The words of the PDF with their boxes (pdftotext -bbox): the page's width and each word.
struct PdfWords {
    double pageWidth = 0;
    QStringList words;
    double rightmost = 0; // the largest xMax of any word
};

PdfWords WordBoxes(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    PdfWords out;
    const QRegularExpression page(QStringLiteral("<page width=\"([0-9.]+)\""));
    out.pageWidth = page.match(html).captured(1).toDouble();
    const QRegularExpression word(QStringLiteral("<word xMin=\"[0-9.-]+\" yMin=\"[0-9.-]+\" "
                                                 "xMax=\"([0-9.-]+)\" [^>]*>([^<]*)</word>"));
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        out.rightmost = std::max(out.rightmost, m.captured(1).toDouble());
        out.words << m.captured(2);
    }
    return out;
}

sim::PlantedFault Plant(sim::PlantedKind kind, int channel, QDate day, double hours) {
    sim::PlantedFault f;
    f.kind = kind;
    f.channel = channel;
    f.start = QDateTime(day, QTime(6, 0), Qt::UTC);
    f.hours = hours;
    f.sensor = kind == sim::PlantedKind::SensorDrop ? 1 : 2; // "Тобр" drops out, "Тп1" sticks
    return f;
}

ArchiveFileContents Contents(QByteArray image, QDateTime downloadedAt) {
    ArchiveFileContents c;
    c.channelCount = 2;
    c.serial = 4711;
    c.address = 3;
    c.identification = sim::DefaultIdentification(2);
    c.comment = QStringLiteral("Котельная школы");
    c.port = QStringLiteral("COM2");
    c.downloadedAt = downloadedAt;
    c.image = std::move(image);
    return c;
}

class ReportCommands : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.filePath(QStringLiteral("archives/4711"));
        QByteArray image = sim::GenerateArchive(2, 77, true);
        sim::PlantFaults(image, 2,
                         {Plant(sim::PlantedKind::SensorDrop, 1, {2023, 11, 2}, 8),
                          Plant(sim::PlantedKind::SensorStick, 2, {2023, 11, 10}, 30),
                          Plant(sim::PlantedKind::ReturnAbove, 1, {2023, 11, 20}, 4),
                          Plant(sim::PlantedKind::OffCurve, 2, {2023, 11, 28}, 6),
                          Plant(sim::PlantedKind::LogGap, 1, {2023, 12, 5}, 10),
                          Plant(sim::PlantedKind::ClockBack, 2, {2023, 12, 15}, 5),
                          Plant(sim::PlantedKind::RelayCycle, 1, {2023, 12, 22}, 30)});
        image_ = image;
        const QDateTime now(QDate(2024, 1, 10), QTime(12, 0), Qt::OffsetFromUTC, 3 * 3600);
        path_ = folder_ + QStringLiteral("/2024-01-10_12-00-00.kvarc");
        ASSERT_EQ(WriteArchiveFile(path_, Contents(image, now)), QString());
        // The previous visit: the same controller with another "Кп" in channel 2's first block.
        QByteArray before = sim::GenerateArchive(2, 76, true);
        before[0x41F80 + 23] = static_cast<char>(before[0x41F80 + 23] + 7);
        ASSERT_EQ(WriteArchiveFile(folder_ + QStringLiteral("/2023-12-01_09-30-00.kvarc"),
                                   Contents(before, now.addDays(-40))),
                  QString());
    }

    QTemporaryDir dir_;
    QString folder_, path_;
    QByteArray image_;
};

TEST_F(ReportCommands, FindingsOfAKeptFileNameEachPlantedFaultWithItsChannel) {
    const Outcome run = Kv9000({QStringLiteral("--findings"), path_}, dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], QStringLiteral("channel\tkind\tfrom\tto\tsensor\tdetail"));
    const QRegularExpression row(QStringLiteral(
        "^[12]\t[a-z-]+\t\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t\\d{4}-\\d\\d-\\d\\d "
        "\\d\\d:\\d\\d:\\d\\d\t[^\t]*\t[^\t]+$"));
    for (const QString& line : lines.mid(1))
        EXPECT_TRUE(row.match(line).hasMatch()) << line.toStdString();
    for (const char* expected : {"1\tsensor-missing\t2023-11-02 06:00:00", "2\tsensor-stuck\t",
                                 "1\treturn-above-supply\t", "2\toff-curve\t", "1\tlog-gap\t",
                                 "2\tclock-jump\t", "1\trelay-cycling\t", "2\tsettings-changed\t"})
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                   << run.out.toStdString();
    EXPECT_EQ(lines.size(), 1 + 8) << run.out.toStdString();

    const Outcome missing = Kv9000(
        {QStringLiteral("--findings"), dir_.filePath(QStringLiteral("none.kvarc"))}, dir_.path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains(QStringLiteral("none.kvarc: "))) << missing.err.toStdString();
}

TEST_F(ReportCommands, TheReportHoldsTheControllerItsExtremesAndEveryFindingsSentence) {
    const QString pdf = dir_.filePath(QStringLiteral("отчёт.pdf"));
    const Outcome run =
        Kv9000({QStringLiteral("--report"), path_, QStringLiteral("-o"), pdf}, dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString text = PdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Серийный номер: 4711"))) << text.toStdString();
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.contains("pdfaid:part")) << "PDF/A metadata";
    EXPECT_TRUE(bytes.contains("/FontFile2")) << "fonts embedded";

    // Channel 1's supply: its lowest and highest value, each with its time.
    const ChannelSummary s1 = SummarizeChannel(ExtractChartSeries(image_, 2)[0]);
    const TemperatureSummary& supply = s1.temperatures[0];
    ASSERT_TRUE(supply.min && supply.max);
    const QString row = QStringLiteral("Тпод %1 %2 %3 %4")
                            .arg(FindingDegrees(*supply.min), FindingTimeShort(supply.minTime),
                                 FindingDegrees(*supply.max), FindingTimeShort(supply.maxTime));
    EXPECT_TRUE(text.contains(row)) << row.toStdString() << "\n" << text.toStdString();

    const Outcome findings = Kv9000({QStringLiteral("--findings"), path_}, dir_.path());
    const QStringList lines = findings.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 9);
    for (const QString& line : lines.mid(1)) {
        const QString sentence = line.section(u'\t', 5).simplified();
        EXPECT_TRUE(text.contains(sentence)) << sentence.toStdString();
    }
}

// The simulator's own full two-channel archive, as a service engineer would mail its report:
// small enough to mail, every word on the page (an identification without a space included), and
// each channel's findings marked on its time chart.
TEST_F(ReportCommands, AWholeArchiveGivesAMailableReportWithItsFindingsOnTheCharts) {
    ArchiveFileContents whole = Contents(sim::GenerateArchive(2), QDateTime::currentDateTime());
    QString identification;
    while (identification.size() < 120)
        identification += QStringLiteral("ЛоркКB9000Л2К");
    whole.identification = identification;
    const QString path = dir_.filePath(QStringLiteral("whole/2024-01-10_12-00-00.kvarc"));
    ASSERT_EQ(WriteArchiveFile(path, whole), QString());
    const QString pdf = dir_.filePath(QStringLiteral("whole/r.pdf"));
    const Outcome run =
        Kv9000({QStringLiteral("--report"), path, QStringLiteral("-o"), pdf}, dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_LE(QFileInfo(pdf).size(), 1000 * 1000) << "too big to mail";

    const PdfWords words = WordBoxes(pdf);
    ASSERT_GT(words.pageWidth, 0);
    EXPECT_LE(words.rightmost, words.pageWidth) << "a word runs off the page";
    EXPECT_TRUE(words.words.join(QString()).contains(identification));

    // Each channel's chart says how many of its findings it marks: as many as --findings gives.
    const QString text = PdfText(pdf);
    const Outcome findings = Kv9000({QStringLiteral("--findings"), path}, dir_.path());
    ASSERT_EQ(findings.exitCode, 0) << findings.err.toStdString();
    for (int channel = 1; channel <= 2; ++channel) {
        EXPECT_TRUE(text.contains(QStringLiteral("Графики, канал %1").arg(channel)));
        int marked = 0;
        for (const QString& line : findings.out.split(u'\n', Qt::SkipEmptyParts).mid(1))
            marked += line.startsWith(QString::number(channel) + u'\t') &&
                      !line.contains(QStringLiteral("\tsettings-changed\t"));
        ASSERT_GT(marked, 0) << "the simulator's archive has a power cut in each channel";
        const QString caption =
            QStringLiteral("Находки канала %1 отмечены на графике: %2.").arg(channel).arg(marked);
        EXPECT_TRUE(text.contains(caption)) << caption.toStdString() << "\n"
                                            << findings.out.toStdString();
    }
}

TEST_F(ReportCommands, BadInputGivesAReportThatSaysSoOrOneMessageAndNothingLeftBehind) {
    // An archive without one valid record, and one whose every record has an impossible date.
    QByteArray erased(ArchiveSize, static_cast<char>(0xFF));
    QByteArray badDates = image_;
    for (int at = 0; at + 32 <= ArchiveSize; at += 32)
        badDates[at + 5] = 0x13; // month 13
    const QDateTime now = QDateTime::currentDateTime();
    struct {
        QByteArray image;
        const char* says;
    } cases[] = {{erased, "В архиве нет ни одной действительной записи"},
                 {badDates, "Ни у одной записи архива нет верной даты и времени"}};
    // Beside them, an earlier file of a one-channel controller: not compared, and said why.
    ArchiveFileContents oneChannel = Contents(sim::GenerateArchive(1, 3, true), now.addDays(-9));
    oneChannel.channelCount = 1;
    ASSERT_EQ(WriteArchiveFile(dir_.filePath(QStringLiteral("other/0-earlier.kvarc")), oneChannel),
              QString());
    for (const auto& c : cases) {
        const QString path = dir_.filePath(QStringLiteral("other/a.kvarc"));
        ASSERT_EQ(WriteArchiveFile(path, Contents(c.image, now)), QString());
        const QString pdf = dir_.filePath(QStringLiteral("other/a.pdf"));
        const Outcome run =
            Kv9000({QStringLiteral("--report"), path, QStringLiteral("-o"), pdf}, dir_.path());
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QString text = PdfText(pdf);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Графики, канал")));
        EXPECT_TRUE(text.contains(QStringLiteral("Архив 0-earlier.kvarc не сравнивается. Архив для "
                                                 "сравнения снят с регулятора с другим числом "
                                                 "каналов (1 вместо 2).")))
            << text.toStdString();
    }

    // A folder that cannot be written (a file stands where it should be): one message naming
    // it, and nothing left behind beside it.
    const QString blocker = dir_.filePath(QStringLiteral("blocked/not-a-folder"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(blocker).absolutePath()));
    QFile(blocker).open(QIODevice::WriteOnly);
    const Outcome run = Kv9000({QStringLiteral("--report"), path_, QStringLiteral("-o"),
                                blocker + QStringLiteral("/r.pdf")},
                               dir_.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(blocker)) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("kv9000:")), 1) << run.err.toStdString();
    EXPECT_EQ(QDir(QFileInfo(blocker).absolutePath())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("not-a-folder")});
}

} // namespace
