// The Calc automation layer over UNO: six references to objects of the office, filled in the
// order the export needs them. Every public operation catches the office's exceptions once, at
// its edge, and turns them into ExportError with the office's own text.

#include "CalcModule.h"
#include "OfficeConnection.h"
#include "UnoText.h"

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cppuhelper/exc_hlp.hxx>

namespace {

namespace uno = css::uno;

QString Describe(const uno::Exception& e) {
    const QString message = FromUno(e.Message).trimmed();
    if (!message.isEmpty())
        return message;
    // Some exceptions of the office carry no message; their type still says what went wrong.
    return FromUno(cppu::getCaughtException().getValueTypeName());
}

// Runs one public operation; an exception of the office leaves it as ExportError.
template <typename Operation> auto AtOfficeEdge(Operation&& operation) -> decltype(operation()) {
    try {
        return operation();
    } catch (const uno::Exception& e) {
        throw ExportError(Describe(e));
    }
}

class UnoCalcAuto final : public CalcAutomation {
public:
    ~UnoCalcAuto() override { ReleaseAll(); }

    bool Connect(const CalcWaitStep& waitStep) override {
        // Starts the office, or hands the request to the one already running, and waits until
        // it accepts the connection. No office within the time limit: false, no error.
        const uno::Reference<uno::XComponentContext> context =
            ConnectToOffice(kOfficeStartLimit, QString(), waitStep);
        if (!context.is())
            return false;
        try {
            ServiceManager.set(context->getServiceManager(), uno::UNO_QUERY);
        } catch (const uno::Exception&) {
            // The office went away between accepting and answering: not reached after all.
            return false;
        }
        if (ServiceManager.is()) {
            AtOfficeEdge([this] {
                Desktop.set(
                    ServiceManager->createInstance(rtl::OUString("com.sun.star.frame.Desktop")),
                    uno::UNO_QUERY_THROW);
            });
        }
        return true;
    }

    void NewDocument() override {
        AtOfficeEdge([this] {
            Require(Desktop.is(), QStringLiteral("Нет связи с рабочим столом OpenOffice.org"));
            // No load properties: the new document opens visible, in its own window.
            const uno::Sequence<css::beans::PropertyValue> noArguments;
            const uno::Reference<css::lang::XComponent> component = Desktop->loadComponentFromURL(
                rtl::OUString("private:factory/scalc"), rtl::OUString("_blank"), 0, noArguments);
            Document.set(component, uno::UNO_QUERY);
            if (Document.is())
                Sheets = Document->getSheets();
        });
    }

    void SelectSheet(const QString& name, quint16 position) override {
        AtOfficeEdge([&] {
            if (!HasSheet(name))
                Sheets->insertNewByName(ToUno(name), static_cast<sal_Int16>(position));
            ActivateSheet(name);
        });
    }

    bool HasSheet(const QString& name) override {
        return AtOfficeEdge([&] {
            // Also what stops a SelectSheet after a loader that returned no document.
            Require(Sheets.is(), QStringLiteral("Документ OpenOffice.org Calc не создан"));
            return bool(Sheets->hasByName(ToUno(name)));
        });
    }

    void ActivateSheet(const QString& name) override {
        AtOfficeEdge([&] {
            Require(Document.is(), QStringLiteral("Документ OpenOffice.org Calc не создан"));
            Sheets = Document->getSheets();
            Sheet.set(Sheets->getByName(ToUno(name)), uno::UNO_QUERY_THROW);
            const uno::Reference<css::frame::XModel> model(Document, uno::UNO_QUERY_THROW);
            const uno::Reference<css::sheet::XSpreadsheetView> controller(
                model->getCurrentController(), uno::UNO_QUERY_THROW);
            controller->setActiveSheet(Sheet);
        });
    }

    void SetCellText(quint32 column, quint32 row, const QString& text) override {
        AtOfficeEdge([&] {
            Require(Sheet.is(), QStringLiteral("Лист OpenOffice.org Calc не выбран"));
            Cell = Sheet->getCellByPosition(static_cast<sal_Int32>(column),
                                            static_cast<sal_Int32>(row));
            // setString sets the cell's text as it stands; nothing is parsed as a number.
            uno::Reference<css::text::XText>(Cell, uno::UNO_QUERY_THROW)->setString(ToUno(text));
        });
    }

    void ReleaseAll() noexcept override {
        // Only our hold on the objects goes: the document stays open and unsaved.
        Cell.clear();
        Sheet.clear();
        Sheets.clear();
        Document.clear();
        Desktop.clear();
        ServiceManager.clear();
    }

private:
    static void Require(bool condition, const QString& text) {
        if (!condition)
            throw ExportError(text);
    }

    uno::Reference<css::lang::XMultiServiceFactory> ServiceManager;
    uno::Reference<css::frame::XComponentLoader> Desktop;
    uno::Reference<css::sheet::XSpreadsheetDocument> Document;
    uno::Reference<css::sheet::XSpreadsheets> Sheets;
    uno::Reference<css::sheet::XSpreadsheet> Sheet;
    uno::Reference<css::table::XCell> Cell;
};

} // namespace

extern "C" __attribute__((visibility("default"))) CalcAutomation* kv9000calc_create() {
    return new UnoCalcAuto;
}
