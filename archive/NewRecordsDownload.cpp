#include "NewRecordsDownload.h"

#include "NewRecords.h"

#include <algorithm>
#include <utility>

namespace {

class BlockFetcher {
public:
    BlockFetcher(FrameLink& link, const NewRecordsDownloadHooks& hooks)
        : link_(link), hooks_(hooks) {}

    // One block with the download's retry order; nothing when the run ends (result says why).
    std::optional<QByteArray> Fetch(int block) {
        const auto offset = static_cast<std::uint32_t>(block) * FlashBlockLength;
        bool firstRequest = true;
        for (;;) {
            const LinkOutcome sent = RequestFlashBlock(link_, offset, FlashBlockLength);
            if (sent != LinkOutcome::Ok) {
                ++result_.txFailures;
                result_.lastFailure = sent;
                if (hooks_.onTxFailures)
                    hooks_.onTxFailures(result_.txFailures);
            }
            if (firstRequest && hooks_.onBlocks)
                hooks_.onBlocks(done_, std::max(done_, planned_));
            if (result_.txFailures > DownloadFailureLimit)
                return End(DownloadOutcome::TxError);
            if (firstRequest) {
                firstRequest = false;
                if (hooks_.processEvents)
                    hooks_.processEvents();
                if (hooks_.cancelled && hooks_.cancelled())
                    return End(DownloadOutcome::Cancelled);
            }
            const FlashBlock answer = ReceiveFlashBlock(link_, FlashBlockLength);
            if (answer.outcome != LinkOutcome::Ok) {
                ++result_.rxFailures;
                result_.lastFailure = answer.outcome;
                if (hooks_.onRxFailures)
                    hooks_.onRxFailures(result_.rxFailures);
            }
            if (result_.rxFailures > DownloadFailureLimit)
                return End(DownloadOutcome::RxError);
            if (answer.outcome == LinkOutcome::Ok) {
                ++done_;
                return QByteArray(reinterpret_cast<const char*>(answer.bytes.data()),
                                  static_cast<qsizetype>(answer.bytes.size()));
            }
        }
    }

    void Plan(int total) { planned_ = total; }
    DownloadResult& Result() { return result_; }

private:
    std::optional<QByteArray> End(DownloadOutcome outcome) {
        result_.outcome = outcome;
        return std::nullopt;
    }

    FrameLink& link_;
    const NewRecordsDownloadHooks& hooks_;
    DownloadResult result_;
    int done_ = 0;
    int planned_ = 0;
};

} // namespace

NewRecordsDownloadResult DownloadNewRecords(FrameLink& link, const QByteArray& earlier,
                                            int channelCount, const QString& noEarlierCause,
                                            const NewRecordsDownloadHooks& hooks,
                                            std::uint64_t sampleSeed) {
    NewRecordsDownloadResult result;
    result.wholeReadCause = noEarlierCause;
    if (earlier.size() == ArchiveSize) {
        BlockFetcher fetcher(link, hooks);
        NewRecordsHooks plan;
        plan.read = [&fetcher](int block) { return fetcher.Fetch(block); };
        plan.onPlanned = [&fetcher](int total) { fetcher.Plan(total); };
        NewRecordsRead read = ReadNewRecords(earlier, channelCount, plan, sampleSeed);
        result.blocksRead = read.blocksRead;
        result.download = std::move(fetcher.Result());
        if (read.failed)
            return result;
        if (read.doubt.isEmpty()) {
            if (hooks.onBlocks)
                hooks.onBlocks(read.blocksRead, read.blocksRead);
            result.download.image = std::move(read.image);
            result.wholeReadCause.clear();
            return result;
        }
        result.wholeReadCause = read.doubt;
    } else if (result.wholeReadCause.isEmpty()) {
        result.wholeReadCause = QStringLiteral("нет прежнего полного чтения");
    }

    if (hooks.onWholeRead)
        hooks.onWholeRead(result.wholeReadCause);
    DownloadHooks whole;
    whole.processEvents = hooks.processEvents;
    whole.onTxFailures = hooks.onTxFailures;
    whole.onRxFailures = hooks.onRxFailures;
    whole.cancelled = hooks.cancelled;
    if (hooks.onBlocks)
        whole.onProgress = [&hooks](int offset) {
            hooks.onBlocks(offset / FlashBlockLength, FlashBlockCount);
        };
    result.download = DownloadArchive(link, whole);
    result.blocksRead = FlashBlockCount;
    return result;
}
