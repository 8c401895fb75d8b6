// icongen OUT.ico [PNG-FOLDER]: draws the product icon at every size and writes the .ico file;
// with a folder, also each size as PNG for a look at it.

#include "icongen/IconPainter.h"

#include <QDir>
#include <QFile>

#include <iostream>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: icongen OUT.ico [PNG-FOLDER]\n";
        return 1;
    }
    std::vector<QImage> images;
    for (int size : icongen::IconSizes())
        images.push_back(icongen::PaintIcon(size));
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(icongen::WriteIco(images)) < 0 || !out.flush()) {
        std::cerr << "icongen: cannot write " << argv[1] << "\n";
        return 1;
    }
    if (argc == 3) {
        const QString folder = QString::fromLocal8Bit(argv[2]);
        QDir().mkpath(folder);
        for (const QImage& image : images) {
            const QString path = folder + "/app-" + QString::number(image.width()) + ".png";
            if (!image.save(path)) {
                std::cerr << "icongen: cannot write " << path.toStdString() << "\n";
                return 1;
            }
        }
    }
    return 0;
}
