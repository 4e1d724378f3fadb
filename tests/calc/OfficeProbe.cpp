#include "OfficeProbe.h"

#include "OfficeConnection.h"
#include "UnoText.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <QFile>

#include <stdexcept>

namespace uno = css::uno;
using css::container::XIndexAccess;
using css::container::XNamed;
using css::sheet::XSpreadsheet;
using css::sheet::XSpreadsheetDocument;

struct OfficeProbe::Connection {
    uno::Reference<css::frame::XDesktop2> desktop;
};

namespace {

[[noreturn]] void Fail(const QString& what, const uno::Exception& e) {
    throw std::runtime_error((what + QStringLiteral(": ") + FromUno(e.Message)).toStdString());
}

std::vector<uno::Reference<XSpreadsheetDocument>>
Spreadsheets(const uno::Reference<css::frame::XDesktop2>& desktop) {
    std::vector<uno::Reference<XSpreadsheetDocument>> found;
    const uno::Reference<css::container::XEnumeration> components =
        desktop->getComponents()->createEnumeration();
    while (components->hasMoreElements()) {
        uno::Reference<XSpreadsheetDocument> document(components->nextElement(), uno::UNO_QUERY);
        if (document.is())
            found.push_back(document);
    }
    return found;
}

SheetContent ReadSheet(const uno::Reference<XSpreadsheet>& sheet) {
    SheetContent content;
    content.name = FromUno(uno::Reference<XNamed>(sheet, uno::UNO_QUERY_THROW)->getName());

    // Everything from A1 to the end of the used area, in one call.
    const uno::Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
    uno::Reference<css::sheet::XUsedAreaCursor>(cursor, uno::UNO_QUERY_THROW)
        ->gotoEndOfUsedArea(false);
    const css::table::CellRangeAddress last =
        uno::Reference<css::sheet::XCellRangeAddressable>(cursor, uno::UNO_QUERY_THROW)
            ->getRangeAddress();

    const uno::Reference<css::sheet::XCellRangeData> data(
        sheet->getCellRangeByPosition(0, 0, last.EndColumn, last.EndRow), uno::UNO_QUERY_THROW);
    const uno::Sequence<uno::Sequence<uno::Any>> values = data->getDataArray();
    for (sal_Int32 r = 0; r < values.getLength(); ++r) {
        for (sal_Int32 c = 0; c < values[r].getLength(); ++c) {
            const uno::Any& value = values[r][c];
            rtl::OUString text;
            if (value >>= text) {
                if (!text.isEmpty())
                    content.texts.insert({int(c), int(r)}, FromUno(text));
            } else {
                ++content.nonTextCells;
            }
        }
    }
    return content;
}

} // namespace

OfficeProbe::OfficeProbe(const QString& officeOutput)
    : connection_(std::make_unique<Connection>()) {
    // A display under load now and then refuses a new client; the office then ends at once and
    // a second start is the cure.
    uno::Reference<uno::XComponentContext> context;
    for (int attempt = 0; attempt < 3 && !context.is(); ++attempt)
        context = ConnectToOffice(std::chrono::seconds(60), officeOutput);
    if (!context.is()) {
        QFile output(officeOutput);
        output.open(QIODevice::ReadOnly);
        throw std::runtime_error("the office did not start; its output:\n" +
                                 output.readAll().toStdString());
    }
    try {
        connection_->desktop = css::frame::Desktop::create(context);
    } catch (const uno::Exception& e) {
        Fail(QStringLiteral("no desktop"), e);
    }
}

OfficeProbe::~OfficeProbe() = default;

int OfficeProbe::SpreadsheetCount() {
    try {
        return int(Spreadsheets(connection_->desktop).size());
    } catch (const uno::Exception& e) {
        Fail(QStringLiteral("listing documents"), e);
    }
}

DocumentContent OfficeProbe::ReadOnlySpreadsheet() {
    try {
        const auto documents = Spreadsheets(connection_->desktop);
        if (documents.size() != 1)
            throw std::runtime_error("expected one spreadsheet document, found " +
                                     std::to_string(documents.size()));
        const uno::Reference<XSpreadsheetDocument>& document = documents.front();
        DocumentContent content;
        const uno::Reference<XIndexAccess> sheets(document->getSheets(), uno::UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            const uno::Reference<XSpreadsheet> sheet(sheets->getByIndex(i), uno::UNO_QUERY_THROW);
            content.sheets.push_back(ReadSheet(sheet));
            content.sheetNames << content.sheets.back().name;
        }
        const uno::Reference<css::frame::XModel> model(document, uno::UNO_QUERY_THROW);
        const uno::Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(),
                                                                uno::UNO_QUERY_THROW);
        content.activeSheet = FromUno(
            uno::Reference<XNamed>(view->getActiveSheet(), uno::UNO_QUERY_THROW)->getName());
        content.modified =
            uno::Reference<css::util::XModifiable>(document, uno::UNO_QUERY_THROW)->isModified();
        content.stored =
            uno::Reference<css::frame::XStorable>(document, uno::UNO_QUERY_THROW)->hasLocation();
        return content;
    } catch (const uno::Exception& e) {
        Fail(QStringLiteral("reading the document"), e);
    }
}

void OfficeProbe::CloseDocuments() {
    try {
        const uno::Reference<css::container::XEnumeration> components =
            connection_->desktop->getComponents()->createEnumeration();
        std::vector<uno::Reference<css::util::XCloseable>> open;
        while (components->hasMoreElements()) {
            uno::Reference<css::util::XCloseable> closeable(components->nextElement(),
                                                            uno::UNO_QUERY);
            if (closeable.is())
                open.push_back(closeable);
        }
        for (const auto& closeable : open)
            closeable->close(true);
    } catch (const uno::Exception& e) {
        Fail(QStringLiteral("closing the documents"), e);
    }
}

void OfficeProbe::Terminate() {
    try {
        connection_->desktop->terminate();
    } catch (const css::lang::DisposedException&) {
        // The office went away while answering: that is what was asked for.
    } catch (const uno::Exception& e) {
        Fail(QStringLiteral("ending the office"), e);
    }
    connection_->desktop.clear();
}
