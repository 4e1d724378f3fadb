#include "ChartFile.h"

#include <qcustomplot.h>

#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>

QImage RenderChartImage(QSize size, const ChartPaint& paint) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    paint(painter, size);
    painter.end();
    return image;
}

QString WriteChartFile(const QString& path, QSize size, const ChartPaint& paint) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Не удалось создать файл %1: %2").arg(path, file.errorString());
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        QPdfWriter writer(&file);
        constexpr int kDpi = 96; // one chart pixel is one PDF device pixel
        writer.setResolution(kDpi);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(
            QPageSize(QSizeF(size.width() * 72.0 / kDpi, size.height() * 72.0 / kDpi),
                      QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setCreator(QStringLiteral("kv9000"));
        QCPPainter painter;
        if (!painter.begin(&writer))
            return QStringLiteral("Не удалось записать PDF в файл %1").arg(path);
        painter.setMode(QCPPainter::pmVectorized);
        painter.setMode(QCPPainter::pmNoCaching);
        paint(painter, size);
        painter.end();
    } else if (!RenderChartImage(size, paint).save(&file, "PNG")) {
        return QStringLiteral("Не удалось записать изображение в файл %1").arg(path);
    }
    // flush() before commit(): a commit whose own flush fails (a full disk) still replaces the
    // target, with an empty file.
    if (!file.flush() || !file.commit())
        return QStringLiteral("Не удалось сохранить файл %1: %2").arg(path, file.errorString());
    return {};
}
