#include "util/FileCommitter.h"

#include "util/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

QString temporary(const QString& target)
{
    return target + u".part"_s;
}

class FileCommitterTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // data written to a temporary file beside name and handed over.
    std::optional<WrittenFile> written(const QString& name, const QByteArray& data)
    {
        AtomicFileWriter writer(path(name), temporary(path(name)));
        if (!writer.open() || !writer.write(data))
            return std::nullopt;
        return writer.finish();
    }

    QByteArray contents(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList temporaryFiles() const
    {
        return QDir(m_dir.path()).entryList({ u"*.part"_s }, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir m_dir;
    FileCommitter m_committer;
};

struct CommitCase {
    const char* name;
    // Done to the file between the hand-over and the commit.
    std::function<void(const QString& target)> spoil;
    bool committed;
};

class CommitOutcomeTest : public FileCommitterTest,
                          public ::testing::WithParamInterface<CommitCase> { };

TEST_P(CommitOutcomeTest, FileIsWholeUnderItsNameOrNotThereAndTheOutcomeComesLater)
{
    const CommitCase& c = GetParam();
    const QByteArray data(5000, 'x');
    std::optional<WrittenFile> file = written(u"a.jpg"_s, data);
    ASSERT_TRUE(file.has_value());
    c.spoil(path(u"a.jpg"_s));
    std::optional<bool> outcome;

    m_committer.commit(std::move(*file), [&](bool committed) { outcome = committed; });
    EXPECT_FALSE(outcome.has_value()) << "told from within commit()";
    EXPECT_EQ(m_committer.pending(), 1);
    m_committer.flushCommitted();

    EXPECT_EQ(outcome, c.committed);
    EXPECT_EQ(m_committer.pending(), 0);
    if (c.committed)
        EXPECT_EQ(contents(u"a.jpg"_s), data);
    else
        EXPECT_TRUE(contents(u"a.jpg"_s).isEmpty());
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FileCommitter, CommitOutcomeTest,
    ::testing::Values(CommitCase { "Whole", [](const QString&) {}, true },
        CommitCase { "ShortenedBeforeTheFlush",
            [](const QString& target) { QFile::resize(temporary(target), 100); }, false },
        CommitCase { "NameTakenByAFolder",
            [](const QString& target) {
                QDir().mkpath(target);
                QFile(target + u"/keep"_s).open(QIODevice::WriteOnly);
            },
            false }),
    [](const ::testing::TestParamInfo<CommitCase>& info) { return info.param.name; });

TEST_F(FileCommitterTest, FlushFromWithinADoneEndsAndSoDoesTheOneAroundIt)
{
    bool innerReturned = false;
    std::optional<WrittenFile> first = written(u"a"_s, QByteArray(300, 'p'));
    std::optional<WrittenFile> second = written(u"b"_s, QByteArray(300, 'p'));
    ASSERT_TRUE(first.has_value() && second.has_value());
    m_committer.commit(std::move(*first), [&](bool) {
        m_committer.flushCommitted();
        innerReturned = true;
    });
    m_committer.commit(std::move(*second), {});

    m_committer.flushCommitted();

    EXPECT_TRUE(innerReturned);
    EXPECT_EQ(m_committer.pending(), 0);
    EXPECT_EQ(contents(u"b"_s).size(), 300);
}

TEST_F(FileCommitterTest, CommitterGoneWhileCommittingFinishesTheFilesAndTellsNobody)
{
    auto committer = std::make_unique<FileCommitter>(1);
    bool told = false;
    for (const QString& name : { u"a"_s, u"b"_s }) {
        std::optional<WrittenFile> file = written(name, QByteArray(300, 'p'));
        ASSERT_TRUE(file.has_value());
        committer->commit(std::move(*file), [&told](bool) { told = true; });
    }

    committer.reset();
    QCoreApplication::processEvents();

    EXPECT_FALSE(told);
    EXPECT_EQ(contents(u"a"_s).size(), 300);
    EXPECT_EQ(contents(u"b"_s).size(), 300);
}

} // namespace
} // namespace zp
