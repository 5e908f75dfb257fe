// The export and print options sheet: the format (hidden when printing) and one checkbox per export
// field, loaded from and stored to "exportFields". Confirming dismisses the sheet, stores the fields,
// hands the chosen format to the presenter's completion handler and then counts "Start export".
#pragma once

#include "export/export_format.h"

#include <QDialog>

#include <array>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;

namespace foundation {
class DefaultsStore;
}

namespace exports {

class ExportViewController : public QDialog {
    Q_OBJECT
public:
    explicit ExportViewController(foundation::DefaultsStore& defaults, QWidget* parent = nullptr);
    ~ExportViewController() override;

    // Set by the presenter before the sheet is shown (the format also by the format control).
    ExportFormat format() const { return format_; }
    void setFormat(ExportFormat format);
    bool isPrintDialog() const { return isPrintDialog_; }
    void setIsPrintDialog(bool isPrintDialog) { isPrintDialog_ = isPrintDialog; }
    // Called with the chosen format when the user confirms, after the fields are stored.
    void setCompletionHandler(std::function<void(ExportFormat)> handler) { completionHandler_ = std::move(handler); }

    // Applies the configuration (texts of the export or print variant, the format's segment) and loads
    // the checkboxes from the defaults, once; the presenter calls it before presenting, and showing the
    // sheet does too.
    void loadViewIfNeeded();

    // The fields whose checkbox is on, project fields first, "start and end" before "duration".
    ExportFields selectedFields() const;
    void storeExportSettings();
    // Checks exactly the boxes of the stored fields; stored strings that name no field are ignored.
    void loadExportSettings();

    // The actions of the format control, the Export (or Print) button and Cancel.
    void exportTypeChanged();
    void exportPressed();
    void cancel();

    QLabel* titleLabel() const { return titleLabel_; }
    QPushButton* exportButton() const { return exportButton_; }
    QWidget* exportTypeSegmentedControl() const { return exportTypeSegmentedControl_; }
    QAbstractButton* exportTypeSegment(ExportFormat format) const;
    QCheckBox* checkbox(ExportField field) const { return checkboxes_[static_cast<std::size_t>(field)]; }

    // Ends the sheet: with the OK code it runs the confirmation (store, handler, usage event) after
    // the sheet is dismissed, so a sheet ended by its presenter or a test hook confirms like the button.
    void done(int code) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildViews();
    void viewDidLoad();

    foundation::DefaultsStore& defaults_;
    ExportFormat format_ = ExportFormat::text;
    std::function<void(ExportFormat)> completionHandler_;
    bool isPrintDialog_ = false;
    bool viewLoaded_ = false;
    bool ending_ = false;

    QLabel* titleLabel_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QWidget* exportTypeSegmentedControl_ = nullptr;
    QButtonGroup* exportTypeSegments_ = nullptr;
    std::array<QCheckBox*, exportFieldCount> checkboxes_{};
};

} // namespace exports
