// The order in which a whole run puts its files on disk, recorded by standing
// in for fsync and rename: before a save flushes the workbook, every picture
// its rows name has been flushed, then renamed under its name, and the Images
// folder flushed after that rename; and the folder is flushed once per save,
// not once per picture.

#include "WorkbookRows.h"
#include "run/RunState.h"
#include "scrape/FakeRunView.h"
#include "scrape/ProductExtractor.h"
#include "session/RunSession.h"
#include "support/DemoShop.h"
#include "support/ScriptedDialogs.h"
#include "workbook/ExternalTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct DiskEvent {
    enum Kind { Flush, Rename } kind;
    QString path; // flushed, or renamed from
    QString to; // renamed to
    QString copy; // of a workbook being saved, as it was flushed
};

// What the stand-ins record while a test listens, from every thread.
struct DiskLog {
    std::mutex mutex;
    bool listening = false;
    QString copies; // folder for the copies of flushed workbooks
    std::vector<DiskEvent> events;
} diskLog;

void record(DiskEvent event)
{
    const std::lock_guard lock(diskLog.mutex);
    if (!diskLog.listening)
        return;
    if (event.path.endsWith(u".xlsx.saving"_s)) {
        // Not QFile::copy, which may rename.
        event.copy = diskLog.copies + u"/"_s + QString::number(diskLog.events.size()) + u".xlsx"_s;
        QFile source(event.path);
        QFile copy(event.copy);
        if (source.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly))
            copy.write(source.readAll());
    }
    diskLog.events.push_back(event);
}

template <typename Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

// The program's calls bind to these; the C library's stand behind them.
extern "C" int fsync(int descriptor)
{
    static const auto next = real<int (*)(int)>("fsync");
    const int result = next(descriptor);
    if (result == 0)
        record({ DiskEvent::Flush,
            QFileInfo(u"/proc/self/fd/"_s + QString::number(descriptor)).symLinkTarget(), {}, {} });
    return result;
}

extern "C" int rename(const char* from, const char* to)
{
    static const auto next = real<int (*)(const char*, const char*)>("rename");
    const int result = next(from, to);
    if (result == 0)
        record({ DiskEvent::Rename, QFile::decodeName(from), QFile::decodeName(to), {} });
    return result;
}

namespace zp::test {
namespace {

// Starts or stops the recording; the events recorded so far.
std::vector<DiskEvent> listen(bool on, const QString& copies)
{
    const std::lock_guard lock(diskLog.mutex);
    diskLog.listening = on;
    diskLog.copies = copies;
    return std::exchange(diskLog.events, {});
}

class CommitOrderTest : public ::testing::TestWithParam<int> { };

TEST_P(CommitOrderTest, EverySaveFlushesTheWorkbookAfterThePicturesItsRowsName)
{
    if (ExternalTools::python().isEmpty())
        GTEST_SKIP() << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
    QTemporaryDir folder;
    QTemporaryDir copies;
    const QString root = QDir(folder.path()).canonicalPath(); // as descriptors name it
    constexpr int products = 2 * ProductExtractor::SaveEveryProducts + 50;
    DemoShop shop;
    // Pictures slower than pages, so that some are on their way at a save.
    ASSERT_TRUE(
        shop.start({ .products = products, .extra = { u"--picture-latency-ms"_s, u"10"_s } }));
    RunState state;
    FakeRunView view;
    ScriptedDialogs dialogs;
    RunSession session(state, view, dialogs,
        { shop.catalogBaseUrl(), shop.imageBaseUrl(), root, GetParam() }, Answerer::Nobody,
        [](const QString&) {});
    dialogs.answer(MessageAnswer::Ok);

    listen(true, copies.path());
    session.Command1_Click();
    const std::vector<DiskEvent> events = listen(false, copies.path());

    ASSERT_EQ(session.lastOutcome(), RunOutcome::Completed);
    const QString images = root + u"/Images"_s;
    QSet<QString> flushed;
    QHash<QString, size_t> renamedAt; // picture name: the event that put it under its name
    std::optional<size_t> lastImagesFlush;
    int imagesFlushes = 0;
    int saves = 0;
    qsizetype named = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const DiskEvent& event = events[i];
        if (event.kind == DiskEvent::Rename) {
            if (QFileInfo(event.to).absolutePath() == images) {
                EXPECT_TRUE(flushed.contains(event.path))
                    << "renamed unflushed: " << event.to.toStdString();
                renamedAt.insert(QFileInfo(event.to).fileName(), i);
            }
            continue;
        }
        flushed.insert(event.path);
        if (event.path == images) {
            lastImagesFlush = i;
            ++imagesFlushes;
        }
        if (event.copy.isEmpty())
            continue;
        const std::optional<WorkbookRows> rows = WorkbookRows::read(event.copy);
        ASSERT_TRUE(rows.has_value());
        saves += rows->productCount() > 0;
        for (int row = 0; row < rows->productCount(); ++row) {
            const QString picture = rows->cell(row, RowLayout::PictureColumn).text;
            if (picture.isEmpty())
                continue;
            ++named;
            SCOPED_TRACE(picture.toStdString() + " named by save " + std::to_string(saves));
            ASSERT_TRUE(renamedAt.contains(picture)) << "not under its name";
            ASSERT_TRUE(lastImagesFlush.has_value());
            EXPECT_GT(*lastImagesFlush, renamedAt.value(picture)) << "folder not flushed";
        }
    }

    EXPECT_EQ(saves, 3);
    EXPECT_GT(named, products); // the pictures of the first rows count in every save
    EXPECT_GT(renamedAt.size(), products / 2);
    EXPECT_LE(imagesFlushes, saves);
}

INSTANTIATE_TEST_SUITE_P(Connections, CommitOrderTest, ::testing::Values(1, 6),
    [](const ::testing::TestParamInfo<int>& info) {
        return "Connections" + std::to_string(info.param);
    });

} // namespace
} // namespace zp::test
