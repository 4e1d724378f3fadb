#include "GridHeadings.h"

#include "TextGrid.h"

const QStringList& DataHeadings() {
    static const QStringList headings = {
        QStringLiteral("№"),     QStringLiteral("Дата"), QStringLiteral("Время"),
        QStringLiteral("Тпод"),  QStringLiteral("Тобр"), QStringLiteral("Тп1"),
        QStringLiteral("Тп2"),   QStringLiteral("Тп"),   QStringLiteral("Тнар."),
        QStringLiteral("Тграф"), QStringLiteral("Туст"), QStringLiteral("Ттреб"),
        QStringLiteral("tвозд"), QStringLiteral("Реле"),
    };
    return headings;
}

const QStringList& SettingsHeadings() {
    static const QStringList headings = {
        QStringLiteral("№"),        QStringLiteral("Дата"),     QStringLiteral("Время"),
        QStringLiteral("Режим"),    QStringLiteral("Тип рег."), QStringLiteral("Кнак.1"),
        QStringLiteral("Кнак.2"),   QStringLiteral("Тнач.от."), QStringLiteral("Тизл.от."),
        QStringLiteral("Ккорр."),   QStringLiteral("tц."),      QStringLiteral("tпост."),
        QStringLiteral("Кп"),       QStringLiteral("Ки"),       QStringLiteral("Кд"),
        QStringLiteral("Защ.инт."),
    };
    return headings;
}

void WriteHeadings(TextGrid& grid, const QStringList& headings) {
    for (int c = 0; c < grid.ColCount(); ++c)
        grid.SetCell(c, 0, c < headings.size() ? headings[c] : QString());
}
