#include "app/RunController.h"

#include "net/PageReader.h"
#include "run/Dialogs.h"
#include "run/RunState.h"
#include "run/RunView.h"
#include "scrape/CatalogCrawler.h"
#include "scrape/ScrapeContext.h"
#include "util/Clock.h"
#include "util/PathUtils.h"
#include "util/Utf8.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace zp {

RunController::RunController(RunState& state, RunView& view, Dialogs& dialogs, PageReader& pages,
    Downloader& downloader, const Clock& clock, RunSettings settings,
    ExcelConnection::Handover handover)
    : m_state(state)
    , m_view(view)
    , m_dialogs(dialogs)
    , m_pages(pages)
    , m_downloader(downloader)
    , m_clock(clock)
    , m_settings(std::move(settings))
    , m_excel(m_settings.programFolder, std::move(handover))
{
}

void RunController::Command1_Click()
{
    if (m_state.IsRunning)
        askToStop();
    else
        performRun();
}

void RunController::askToStop()
{
    // "парсерсер" is the text the users know from the original program; kept on purpose.
    if (m_dialogs.show(MessageStyle::StopQuestion, u"Остановить парсерсер?"_s)
        == MessageAnswer::Yes)
        m_state.StopRequested.set();
}

void RunController::performRun()
{
    m_state.IsRunning = true;
    m_view.setButtonCaption(u"Стоп"_s);
    m_state.StartTime = m_clock.now();
    m_state.NewCount = 0;

    const QString firstPage = UTF8ToUnicode(m_pages.ReadHTML(
        m_settings.catalogBaseUrl + FirstListingPath, QString(), PageTimeoutSeconds));
    if (firstPage.isEmpty()) {
        if (!m_state.StopRequested.isSet())
            m_view.warnNotLoaded(
                m_settings.catalogBaseUrl + FirstListingPath, m_pages.lastFailure());
        m_dialogs.show(MessageStyle::Failure, u"Нет доступа к сайту."_s);
        m_outcome = RunOutcome::NoSiteAccess;
        endRun();
        return;
    }

    m_view.setStatusText(u"Подключение к Excel"_s);
    m_excel.ConnectExcel();
    m_view.setStatusText(u"Открытие файла Excel ..."_s);
    if (openWorkbook()) {
        CreateDir(QDir(m_settings.programFolder).filePath(u"Images"_s));
        crawl(firstPage);
        const bool saved = saveWorkbook();
        m_view.setStatusText(QString());
        QCoreApplication::processEvents();
        report(saved);
    } else {
        m_outcome = RunOutcome::WorkbookUnusable;
    }
    m_excel.FinishExcel(m_state.StopRequested.isSet());
    endRun();
}

bool RunController::openWorkbook()
{
    const WorkbookOpening opening = m_excel.OpenWorkbook();
    const QString file = QDir::toNativeSeparators(opening.path);
    switch (opening.status) {
    case WorkbookStatus::Ready:
        m_state.FixedColumnCount = RowLayout::FixedColumnCount;
        m_state.NextRow = opening.nextRow;
        m_view.setCounterText(QString::number(m_state.NextRow - 1));
        return true;
    case WorkbookStatus::CannotCreate:
        m_dialogs.show(MessageStyle::Failure, u"Не удалось сохранить файл "_s + file + u'.');
        break;
    case WorkbookStatus::CannotOpen:
        m_dialogs.show(MessageStyle::Failure, u"Не удалось найти файл "_s + file + u'.');
        break;
    case WorkbookStatus::WrongLayout:
        m_dialogs.show(MessageStyle::Failure, WorkbookLayout::WrongFormatMessage);
        break;
    }
    return false;
}

bool RunController::saveWorkbook()
{
    if (m_excel.SaveWorkbook())
        return true;
    m_dialogs.show(MessageStyle::Failure,
        u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(m_excel.workbookPath()) + u'.');
    return false;
}

void RunController::report(bool saved)
{
    m_outcome = !saved                  ? RunOutcome::WorkbookUnusable
        : m_state.StopRequested.isSet() ? RunOutcome::Stopped
                                        : RunOutcome::Completed;
    if (m_state.StopRequested.isSet()) {
        m_dialogs.show(MessageStyle::Failure, u"Парсер остановлен."_s);
        m_state.StopRequested.clear();
    }
    m_dialogs.show(MessageStyle::Report,
        u"Загрузка закончена.\rБыло загружено "_s + QString::number(m_state.NewCount)
            + u" новых товаров."_s);
    m_view.setStatusText(QString());
}

void RunController::crawl(const QString& firstPage)
{
    CatalogSheet* sheet = m_excel.sheet();
    if (!sheet)
        return;
    const ScrapeContext context { m_state, *sheet, m_view, m_dialogs, m_pages, m_downloader,
        m_clock, m_settings.catalogBaseUrl, m_settings.imageBaseUrl, m_settings.programFolder };
    CatalogCrawler crawler(context);
    crawler.ParseCategory(firstPage, m_settings.catalogBaseUrl + FirstListingPath);
}

void RunController::endRun()
{
    m_state.IsRunning = false;
    m_state.StopRequested.clear();
    m_view.setButtonCaption(u"Старт"_s);
}

} // namespace zp
