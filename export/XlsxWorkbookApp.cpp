#include "XlsxWorkbookApp.h"

#include "WorkbookFileName.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <xlsxwriter.h>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr int kMaxTextLength = 32767;
constexpr int kMaxSheetNameLength = 31;

struct SheetData {
    QString name;
    // Key: (row - 1) << 16 | (column - 1), so the map walks row by row, column by column,
    // the order the file is written in.
    std::map<std::uint64_t, QString> cells;
};

struct BookData {
    std::vector<std::shared_ptr<SheetData>> sheets;
    bool shown = false;
};

std::uint64_t CellKey(int row, int column) {
    return (static_cast<std::uint64_t>(row - 1) << 16) | static_cast<std::uint64_t>(column - 1);
}

void CheckSheetName(const BookData& book, const SheetData& sheet, const QString& name) {
    static const QString kForbidden = QStringLiteral(":\\/?*[]");
    bool valid = !name.isEmpty() && name.size() <= kMaxSheetNameLength &&
                 !name.startsWith(QLatin1Char('\'')) && !name.endsWith(QLatin1Char('\''));
    for (QChar c : name)
        valid = valid && !kForbidden.contains(c);
    if (!valid)
        throw ExportError(QStringLiteral("Недопустимое имя листа: \"%1\"").arg(name));
    for (const auto& other : book.sheets)
        if (other.get() != &sheet && other->name.compare(name, Qt::CaseInsensitive) == 0)
            throw ExportError(QStringLiteral("Лист с именем \"%1\" уже есть в книге").arg(name));
}

class XlsxRange : public ExcelRange {
public:
    XlsxRange(std::shared_ptr<SheetData> sheet, int row, int column)
        : sheet_(std::move(sheet)), key_(CellKey(row, column)) {}

    void SetValue(const QString& text) override {
        if (text.size() > kMaxTextLength)
            throw ExportError(QStringLiteral("Текст длиннее %1 знаков").arg(kMaxTextLength));
        if (text.isEmpty())
            sheet_->cells.erase(key_);
        else
            sheet_->cells.insert_or_assign(key_, text);
    }

private:
    std::shared_ptr<SheetData> sheet_;
    std::uint64_t key_;
};

class XlsxWorksheet : public ExcelWorksheet {
public:
    XlsxWorksheet(std::shared_ptr<BookData> book, std::shared_ptr<SheetData> sheet)
        : book_(std::move(book)), sheet_(std::move(sheet)) {}

    void SetName(const QString& name) override {
        CheckSheetName(*book_, *sheet_, name);
        sheet_->name = name;
    }

    std::shared_ptr<ExcelRange> Cells(int row, int column) override {
        if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
            throw ExportError(QStringLiteral("Нет ячейки (%1, %2)").arg(row).arg(column));
        return std::make_shared<XlsxRange>(sheet_, row, column);
    }

    const std::shared_ptr<SheetData>& Data() const { return sheet_; }

private:
    std::shared_ptr<BookData> book_;
    std::shared_ptr<SheetData> sheet_;
};

QString NewSheetName(const BookData& book) {
    for (int n = static_cast<int>(book.sheets.size()) + 1;; ++n) {
        const QString name = QStringLiteral("Лист%1").arg(n);
        bool taken = false;
        for (const auto& sheet : book.sheets)
            taken = taken || sheet->name.compare(name, Qt::CaseInsensitive) == 0;
        if (!taken)
            return name;
    }
}

class XlsxWorksheets : public ExcelWorksheets {
public:
    explicit XlsxWorksheets(std::shared_ptr<BookData> book) : book_(std::move(book)) {}

    int Count() override { return static_cast<int>(book_->sheets.size()); }

    std::shared_ptr<ExcelWorksheet> Item(int index) override {
        if (index < 1 || index > Count())
            throw ExportError(QStringLiteral("В книге нет листа %1").arg(index));
        return std::make_shared<XlsxWorksheet>(book_, book_->sheets[index - 1]);
    }

    std::shared_ptr<ExcelWorksheet>
    AddAfter(const std::shared_ptr<ExcelWorksheet>& after) override {
        auto* known = dynamic_cast<XlsxWorksheet*>(after.get());
        auto at = book_->sheets.end();
        if (known)
            for (auto it = book_->sheets.begin(); it != book_->sheets.end(); ++it)
                if (*it == known->Data())
                    at = it + 1;
        if (!known || at == book_->sheets.end() + 1)
            throw ExportError(QStringLiteral("Лист не из этой книги"));
        auto sheet = std::make_shared<SheetData>();
        sheet->name = NewSheetName(*book_);
        book_->sheets.insert(at, sheet);
        return std::make_shared<XlsxWorksheet>(book_, sheet);
    }

private:
    std::shared_ptr<BookData> book_;
};

class XlsxApplication;

class XlsxWorkbooks : public ExcelWorkbooks {
public:
    explicit XlsxWorkbooks(std::shared_ptr<std::vector<std::shared_ptr<BookData>>> books)
        : books_(std::move(books)) {}

    void Add() override {
        auto book = std::make_shared<BookData>();
        auto sheet = std::make_shared<SheetData>();
        sheet->name = QStringLiteral("Лист1");
        book->sheets.push_back(sheet);
        books_->push_back(book);
    }

private:
    std::shared_ptr<std::vector<std::shared_ptr<BookData>>> books_;
};

QString XlsxErrorText(lxw_error error) {
    return QString::fromUtf8(lxw_strerror(error));
}

// Writes one workbook; throws ExportError naming the file when libxlsxwriter fails.
void WriteBook(const BookData& book, const QString& path) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_FALSE;
    const QByteArray fileName = WorkbookFileName(path);
    lxw_workbook* workbook = workbook_new_opt(fileName.constData(), &options);
    if (!workbook)
        throw ExportError(QStringLiteral("Не удалось создать книгу %1").arg(path));
    lxw_error error = LXW_NO_ERROR;
    for (const auto& sheet : book.sheets) {
        lxw_worksheet* worksheet =
            workbook_add_worksheet(workbook, sheet->name.toUtf8().constData());
        if (!worksheet) {
            error = LXW_ERROR_SHEETNAME_ALREADY_USED; // the only way a checked name can fail
            break;
        }
        for (const auto& [key, text] : sheet->cells) {
            const auto row = static_cast<lxw_row_t>(key >> 16);
            const auto column = static_cast<lxw_col_t>(key & 0xFFFF);
            error =
                worksheet_write_string(worksheet, row, column, text.toUtf8().constData(), nullptr);
            if (error != LXW_NO_ERROR)
                break;
        }
        if (error != LXW_NO_ERROR)
            break;
    }
    // workbook_close frees the workbook in every case.
    const lxw_error closeError = workbook_close(workbook);
    if (error == LXW_NO_ERROR)
        error = closeError;
    if (error != LXW_NO_ERROR) {
        QFile::remove(path);
        throw ExportError(
            QStringLiteral("Не удалось записать книгу %1: %2").arg(path, XlsxErrorText(error)));
    }
}

class XlsxApplication : public ExcelApplication {
public:
    explicit XlsxApplication(XlsxApplicationOptions options)
        : options_(std::move(options)),
          books_(std::make_shared<std::vector<std::shared_ptr<BookData>>>()) {}

    std::shared_ptr<ExcelWorkbooks> WorkBooks() override {
        return std::make_shared<XlsxWorkbooks>(books_);
    }

    std::shared_ptr<ExcelWorksheet> WorkSheets(int index) override {
        return Worksheets()->Item(index);
    }

    std::shared_ptr<ExcelWorksheets> Worksheets() override {
        if (books_->empty())
            throw ExportError(QStringLiteral("Нет открытой книги"));
        return std::make_shared<XlsxWorksheets>(books_->back());
    }

    void SetVisible(bool visible) override {
        if (!visible)
            return;
        for (const auto& book : *books_) {
            if (book->shown)
                continue;
            const QString path = NewFilePath();
            WriteBook(*book, path);
            book->shown = true;
            if (!options_.opener || !options_.opener(path))
                throw ExportError(QStringLiteral("Не удалось открыть книгу: нет программы для "
                                                 "файлов .xlsx. Книга сохранена в файл %1")
                                      .arg(QDir::toNativeSeparators(path)));
        }
    }

private:
    QString NewFilePath() const {
        const QString root = options_.folderRoot.isEmpty() ? QDir::tempPath() : options_.folderRoot;
        QTemporaryDir folder(root + QStringLiteral("/kv9000-XXXXXX"));
        if (!folder.isValid())
            throw ExportError(QStringLiteral("Не удалось создать папку для книги в %1: %2")
                                  .arg(QDir::toNativeSeparators(root), folder.errorString()));
        folder.setAutoRemove(false); // the user's workbook stays after the program ends
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
        return folder.filePath(SafeFileName(options_.documentName + QLatin1Char(' ') + stamp) +
                               QStringLiteral(".xlsx"));
    }

    XlsxApplicationOptions options_;
    std::shared_ptr<std::vector<std::shared_ptr<BookData>>> books_;
};

WorkbookOpener& OpenerSlot() {
    static WorkbookOpener opener = OpenWithDesktop;
    return opener;
}

} // namespace

bool OpenWithDesktop(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::shared_ptr<ExcelApplication> MakeXlsxApplication(XlsxApplicationOptions options) {
    return std::make_shared<XlsxApplication>(std::move(options));
}

void SetWorkbookOpener(WorkbookOpener opener) {
    OpenerSlot() = opener ? std::move(opener) : WorkbookOpener(OpenWithDesktop);
}

const WorkbookOpener& CurrentWorkbookOpener() {
    return OpenerSlot();
}

QString SafeFileName(const QString& name) {
    static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
    QString safe;
    safe.reserve(name.size());
    for (QChar c : name)
        safe += (c.unicode() < 0x20 || c.unicode() == 0x7F || kForbidden.contains(c))
                    ? QLatin1Char('_')
                    : c;
    while (!safe.isEmpty() && (safe.back() == QLatin1Char(' ') || safe.back() == QLatin1Char('.')))
        safe.chop(1);
    while (!safe.isEmpty() &&
           (safe.front() == QLatin1Char(' ') || safe.front() == QLatin1Char('.')))
        safe.remove(0, 1);
    return safe.isEmpty() ? QStringLiteral("Книга") : safe;
}
