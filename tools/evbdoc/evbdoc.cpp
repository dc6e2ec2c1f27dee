// evbdoc: makes the documents that the "Instructions" menu opens, at build time, with Qt Gui only.
//
//   evbdoc manual MARKDOWN PDF   the user manual: Markdown (images relative to its folder) to PDF
//   evbdoc eq PRESET PNG         the equaliser picture, drawn from the equaliser preset file
//
// The preset's comments carry what each write means ("band 1 gain +3 dB, 100 Hz", "band 1 Q
// 1.1", "band 5 shelf"); the picture shows those bands and their summed response.

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "evbdoc: %s\n", qPrintable(message));
    return 1;
}

int makeManual(const QString& markdownPath, const QString& pdfPath) {
    QFile in(markdownPath);
    if (!in.open(QIODevice::ReadOnly)) return fail("cannot read " + markdownPath);
    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(markdownPath).absolutePath() + "/"));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    QFont body("Noto Sans");
    body.setPointSizeF(10);
    doc.setDefaultFont(body);

    QPdfWriter pdf(pdfPath);
    pdf.setTitle("Corvane EvbSoftware user manual");
    pdf.setCreator("evbdoc");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 16, 18, 12), QPageLayout::Millimeter);
    pdf.setResolution(150);

    // Laid out on the writer itself, so fonts and pictures have their size on paper; the bottom
    // of each page keeps room for its number.
    doc.documentLayout()->setPaintDevice(&pdf);
    const QRectF paper = pdf.pageLayout().paintRectPixels(pdf.resolution());
    const qreal footer = 60;
    const QSizeF page(paper.width(), paper.height() - footer);
    doc.setPageSize(page);

    // Screenshots are shown at 110 dpi, and scaled down to the text column when wider.
    const qreal column = page.width() - 2 * doc.documentMargin();
    const qreal dpiScale = pdf.resolution() / 110.0;
    int missing = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
            if (!image.isValid()) continue;
            const QUrl url(image.name());
            const QImage picture = doc.resource(QTextDocument::ImageResource, url).value<QImage>();
            if (picture.isNull()) {
                ++missing;
                std::fprintf(stderr, "evbdoc: image not found: %s\n", qPrintable(image.name()));
                continue;
            }
            // The layout takes a picture's pixels as 96 dpi pixels and scales them to the device;
            // (setting the size in the image's format instead breaks the layout after it).
            const int width = qRound(std::min(column, picture.width() * dpiScale) * 96.0 / pdf.logicalDpiX());
            if (width != picture.width()) {
                const QImage scaled = picture.scaledToWidth(width, Qt::SmoothTransformation);
                doc.addResource(QTextDocument::ImageResource, url, scaled);
                doc.addResource(QTextDocument::ImageResource, doc.baseUrl().resolved(url), scaled);
            }
        }
    }
    if (missing) return fail(QString::number(missing) + " image(s) missing");

    QPainter painter(&pdf);
    QFont small = body;
    small.setPointSizeF(8);
    const int pages = int(std::ceil(doc.size().height() / page.height()));
    for (int i = 0; i < pages; ++i) {
        if (i > 0) pdf.newPage();
        painter.save();
        painter.translate(0, -i * page.height());
        doc.drawContents(&painter, QRectF(QPointF(0, i * page.height()), page));
        painter.restore();
        painter.setFont(small);
        painter.setPen(Qt::darkGray);
        painter.drawText(QRectF(0, paper.height() - footer, paper.width(), footer),
                         Qt::AlignRight | Qt::AlignBottom,
                         QString("Corvane EvbSoftware user manual  \u2014  %1 / %2").arg(i + 1).arg(pages));
    }
    return 0;
}

struct Band {
    double gainDb = 0, freqHz = 1000, q = 1.0;
    bool shelf = false;
};

std::vector<Band> readBands(const QString& presetPath, QString& error) {
    QFile in(presetPath);
    if (!in.open(QIODevice::ReadOnly)) {
        error = "cannot read " + presetPath;
        return {};
    }
    const QRegularExpression gain(R"(band (\d) gain ([+-]?[\d.]+) dB, ([\d.]+) (k?)Hz)");
    const QRegularExpression q(R"(band (\d) Q ([\d.]+))");
    const QRegularExpression shelf(R"(band (\d) shelf)");
    std::vector<Band> bands(5);
    int found = 0;
    for (const QString& line : QString::fromUtf8(in.readAll()).split('\n')) {
        if (auto m = gain.match(line); m.hasMatch()) {
            Band& b = bands.at(m.captured(1).toInt() - 1);
            b.gainDb = m.captured(2).toDouble();
            b.freqHz = m.captured(3).toDouble() * (m.captured(4).isEmpty() ? 1 : 1000);
            ++found;
        } else if (auto m = q.match(line); m.hasMatch()) {
            bands.at(m.captured(1).toInt() - 1).q = m.captured(2).toDouble();
        } else if (auto m = shelf.match(line); m.hasMatch()) {
            bands.at(m.captured(1).toInt() - 1).shelf = true;
        }
    }
    if (found != 5)
        error = presetPath + ": expected the gains of five bands, found " + QString::number(found);
    return bands;
}

// A band's gain at f: a bell around its centre, or a shelf below (band 1) or above (band 5).
double bandGain(const Band& b, double f, bool low) {
    const double octaves = std::log2(f / b.freqHz);
    if (b.shelf) return b.gainDb / (1.0 + std::exp((low ? 4.0 : -4.0) * octaves));
    return b.gainDb * std::exp(-0.5 * std::pow(octaves * b.q * 1.2, 2));
}

int makeEqPicture(const QString& presetPath, const QString& pngPath) {
    QString error;
    const std::vector<Band> bands = readBands(presetPath, error);
    if (!error.isEmpty()) return fail(error);

    const QSize size(960, 640);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(0xFA, 0xFA, 0xF7));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font("Noto Sans");
    font.setPixelSize(15);
    p.setFont(font);

    QFont title = font;
    title.setPixelSize(24);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0x20, 0x30, 0x50));
    p.drawText(QRect(32, 18, 900, 34), Qt::AlignLeft | Qt::AlignVCenter, "Corvane EQ: the equaliser preset");
    p.setFont(font);
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.drawText(QRect(32, 54, 900, 44), Qt::AlignLeft | Qt::TextWordWrap,
               "Button C1 of the register console (KV1120, KV2210S, KV2220, KV2440 and KV2640) sends "
               "CorvaneEQ.TXT; C2 and C3 only write their line in the console.");

    // Response plot: 20 Hz to 20 kHz, -6 to +6 dB.
    const QRectF plot(90, 120, 820, 330);
    const double fLo = 20, fHi = 20000, dbRange = 6;
    auto xOf = [&](double f) {
        return plot.left() + plot.width() * std::log10(f / fLo) / std::log10(fHi / fLo);
    };
    auto yOf = [&](double db) { return plot.center().y() - plot.height() / 2 * db / dbRange; };
    p.fillRect(plot, Qt::white);
    p.setPen(QPen(QColor(0xD0, 0xD0, 0xD0), 1));
    for (double f : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0})
        p.drawLine(QPointF(xOf(f), plot.top()), QPointF(xOf(f), plot.bottom()));
    for (int db = -6; db <= 6; db += 3)
        p.drawLine(QPointF(plot.left(), yOf(db)), QPointF(plot.right(), yOf(db)));
    p.setPen(QColor(0x40, 0x40, 0x40));
    for (auto [f, label] :
         {std::pair{20.0, "20"}, {100.0, "100"}, {1000.0, "1k"}, {10000.0, "10k"}, {20000.0, "20k Hz"}})
        p.drawText(QRectF(xOf(f) - 40, plot.bottom() + 4, 80, 20), Qt::AlignHCenter, label);
    for (int db = -6; db <= 6; db += 3)
        p.drawText(QRectF(plot.left() - 80, yOf(db) - 10, 72, 20), Qt::AlignRight | Qt::AlignVCenter,
                   QString("%1%2 dB").arg(db > 0 ? "+" : "").arg(db));
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.5));
    p.drawRect(plot);

    const QColor colours[5] = {QColor(0xC0, 0x39, 0x2B), QColor(0xD3, 0x8B, 0x00), QColor(0x27, 0x8E, 0x3F),
                               QColor(0x1F, 0x6F, 0xB5), QColor(0x7D, 0x3C, 0x98)};
    QPainterPath total;
    for (int i = 0; i <= 400; ++i) {
        const double f = fLo * std::pow(fHi / fLo, i / 400.0);
        double sum = 0;
        for (std::size_t b = 0; b < bands.size(); ++b)
            sum += bandGain(bands[b], f, b == 0);
        const QPointF pt(xOf(f), yOf(sum));
        i == 0 ? total.moveTo(pt) : total.lineTo(pt);
    }
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const Band& band = bands[b];
        const QPointF centre(xOf(band.freqHz), yOf(band.gainDb));
        p.setPen(QPen(colours[b], 2));
        p.setBrush(colours[b]);
        p.drawEllipse(centre, 7, 7);
        p.setPen(colours[b]);
        p.drawText(QRectF(centre.x() - 30, centre.y() - 30, 60, 20), Qt::AlignHCenter,
                   QString("B%1").arg(b + 1));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 3));
    p.drawPath(total);

    // The table of bands, one column each, and the order of the writes.
    const int top = 488;
    p.setPen(QColor(0x30, 0x30, 0x30));
    QFont bold = font;
    bold.setBold(true);
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const Band& band = bands[b];
        const QRectF cell(40 + b * 180.0, top, 170, 76);
        p.fillRect(cell, QColor(colours[b].red(), colours[b].green(), colours[b].blue(), 40));
        p.setFont(bold);
        auto hex = [](int v) { return "0x" + QString::number(v, 16).toUpper(); };
        p.drawText(cell.adjusted(8, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop, QString("Band %1").arg(b + 1));
        p.setFont(font);
        const QString freq = band.freqHz >= 1000 ? QString("%1 kHz").arg(band.freqHz / 1000)
                                                 : QString("%1 Hz").arg(band.freqHz);
        p.drawText(
            cell.adjusted(8, 22, 0, 0), Qt::AlignLeft | Qt::AlignTop,
            QString("%1%2 dB at %3\n%4\nregisters %5, %6")
                .arg(band.gainDb > 0 ? "+" : "")
                .arg(band.gainDb)
                .arg(freq,
                     band.shelf ? (b == 0 ? "low shelf" : "high shelf") : QString("bell, Q %1").arg(band.q),
                     hex(0x31 + 2 * int(b)), hex(0x32 + 2 * int(b))));
    }
    p.drawText(QRect(40, 576, 880, 60), Qt::AlignLeft | Qt::TextWordWrap,
               "Order of the writes: register 0x30 = 0x00 turns the equaliser off; each band gets its gain "
               "and its Q or shelf; after a 5 ms wait 0x30 = 0x1F turns all "
               "five bands on. Edit a copy of CorvaneEQ.TXT and load it with \"Load Configuration File\".");
    p.end();
    if (!image.save(pngPath, "PNG")) return fail("cannot write " + pngPath);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "manual") return makeManual(args[2], args[3]);
    if (args.size() == 4 && args[1] == "eq") return makeEqPicture(args[2], args[3]);
    std::fputs("usage: evbdoc manual MARKDOWN PDF | evbdoc eq PRESET PNG\n", stderr);
    return 2;
}
