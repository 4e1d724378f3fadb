#include "NewRecordsDownload.h"

#include "NewRecords.h"

#include <algorithm>
#include <utility>

namespace {

class BlockFetcher {
public:
    BlockFetcher(FrameLink& link, const NewRecordsDownloadHooks& hooks)
        : link_(link), hooks_(hooks), whole_(PassedHooks<DownloadHooks>(hooks)) {}

    // One block with the download's retry order; nothing when the run ends (result says why).
    std::optional<QByteArray> Fetch(int block) {
        QByteArray bytes;
        const DownloadOutcome outcome = FetchArchiveBlock(
            link_, static_cast<std::uint32_t>(block) * FlashBlockLength, FlashBlockLength, whole_,
            [this] {
                if (hooks_.onBlocks)
                    hooks_.onBlocks(done_, std::max(done_, planned_));
            },
            result_, bytes);
        if (outcome != DownloadOutcome::Completed) {
            result_.outcome = outcome;
            return std::nullopt;
        }
        ++done_;
        return bytes;
    }

    void Plan(int total) { planned_ = total; }
    DownloadResult& Result() { return result_; }

private:
    FrameLink& link_;
    const NewRecordsDownloadHooks& hooks_;
    DownloadHooks whole_; // the hooks a block asks, as the whole download's
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
    DownloadHooks whole = PassedHooks<DownloadHooks>(hooks);
    if (hooks.onBlocks)
        whole.onProgress = [&hooks](int offset) {
            hooks.onBlocks(offset / FlashBlockLength, FlashBlockCount);
        };
    result.download = DownloadArchive(link, whole);
    result.blocksRead = FlashBlockCount;
    return result;
}
