#pragma once

#include <QDialog>

// The version dialog: the version, the maker's home page as a link, and "閉じる".
class TForm6 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);

public slots:
    void Label2Click();
    void Button1Click();
};
