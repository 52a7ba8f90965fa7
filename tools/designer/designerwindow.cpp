#include "tools/designer/designerwindow.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "core/generator.h"
#include "design/qtnotice.h"
#include "platform/base/exception.h"
#include "platform/base/notice.h"
#include "platform/base/tmstring.h"
#include "platform/designtime/package.h"
#include "platform/model/classes.h"
#include "platform/model/datamodule.h"
#include "platform/model/formstream.h"
#include "tools/designer/formcanvas.h"
#include "tools/designer/inspector.h"

namespace tgen {

namespace {

constexpr const char* kCaption = "Form designer";

QMessageBox::StandardButton AskSaveBox(QWidget* parent, const QString& form) {
  return QMessageBox::question(
      parent, QObject::tr(kCaption), QObject::tr("Save changes to %1?").arg(form),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
}

QString FileNameBox(QWidget* parent, bool save, const QString& current) {
  const QString filter = QObject::tr("Stored forms (*.frm);;All files (*)");
  return save ? QFileDialog::getSaveFileName(parent, QObject::tr("Save form"), current, filter)
              : QFileDialog::getOpenFileName(parent, QObject::tr("Open form"), current, filter);
}

void Report(const std::string& text) {
  MessageBox(text, kCaption, MB_ICONSTOP);
}

}  // namespace

TDesignerWindow::TDesignerWindow(QWidget* parent)
    : QMainWindow(parent), prompts_{&AskSaveBox, &FileNameBox} {
  setObjectName(QStringLiteral("Designer"));
  canvas_ =
      new TFormCanvas([this](const TComponent& c) { return Picture(FromBytes(c.ClassName())); });
  auto* scroll = new QScrollArea;
  scroll->setWidget(canvas_);
  scroll->setWidgetResizable(true);
  setCentralWidget(scroll);

  inspector_ = new TInspector(*this);
  auto* inspector_dock = new QDockWidget(tr("Object Inspector"), this);
  inspector_dock->setObjectName(QStringLiteral("InspectorDock"));
  inspector_dock->setWidget(inspector_);
  addDockWidget(Qt::LeftDockWidgetArea, inspector_dock);

  log_ = new QPlainTextEdit;
  log_->setObjectName(QStringLiteral("KeyLog"));
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(1000);
  auto* log_dock = new QDockWidget(tr("Keys drawn"), this);
  log_dock->setObjectName(QStringLiteral("KeyLogDock"));
  log_dock->setWidget(log_);
  addDockWidget(Qt::BottomDockWidgetArea, log_dock);

  palette_ = new QTabWidget;
  palette_->setObjectName(QStringLiteral("Palette"));
  palette_->setDocumentMode(true);
  auto* palette_bar = new QToolBar(tr("Component palette"));
  palette_bar->setObjectName(QStringLiteral("PaletteBar"));
  palette_bar->setMovable(false);
  palette_bar->addWidget(palette_);

  BuildActions();
  addToolBar(palette_bar);

  connect(canvas_, &TFormCanvas::clickedEmpty, this, [this](QPoint pos) {
    if (chosen_.isEmpty()) {
      Select(nullptr);
      return;
    }
    const QString cls = chosen_;
    ChooseClass(QString());
    try {
      Drop(cls, pos);
    } catch (const std::exception& e) {
      Report(e.what());
    }
  });
  connect(canvas_, &TFormCanvas::clickedComponent, this, [this](TComponent* c) { Select(c); });
  connect(canvas_, &TFormCanvas::moved, this, [this](TComponent*) {
    Modified();
    inspector_->Refresh();
  });
  connect(canvas_, &TFormCanvas::doubleClicked, this, [this](TComponent* c) { EditComponent(*c); });
  connect(canvas_, &TFormCanvas::menuRequested, this,
          [this](TComponent* c, QPoint at) { ContextMenu(*c)->exec(at); });

  resize(900, 600);
  resizeDocks({inspector_dock}, {300}, Qt::Horizontal);
  resizeDocks({log_dock}, {110}, Qt::Vertical);
  NewForm();
}

TDesignerWindow::~TDesignerWindow() {
  // The inspector's editors and the form come from the packages: they go first.
  inspector_->SetComponent(nullptr);
  canvas_->SetRoot(nullptr);
  root_.reset();
  packages_.clear();
}

void TDesignerWindow::BuildActions() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&New"), QKeySequence::New, this, [this] { NewForm(); });
  file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
    if (!ConfirmDiscard()) return;
    const QString path = prompts_.FileName(this, false, file_);
    if (!path.isEmpty()) ReadForm(path);
  });
  file->addAction(tr("&Save"), QKeySequence::Save, this, [this] { Save(); });
  file->addAction(tr("Save &As..."), QKeySequence::SaveAs, this, [this] {
    const QString path = prompts_.FileName(this, true, file_);
    if (!path.isEmpty()) SaveAs(path);
  });
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* component = menuBar()->addMenu(tr("&Component"));
  delete_ =
      component->addAction(tr("&Delete"), QKeySequence::Delete, this, [this] { DeleteSelected(); });
  component->addSeparator();
  draw_ = component->addAction(tr("Draw a &key"), QKeySequence(tr("Ctrl+K")), this,
                               [this] { DrawKey(); });
  draw_->setObjectName(QStringLiteral("DrawKey"));
  draw_->setToolTip(tr("Draw the next key with the selected generator"));
  undo_ = component->addAction(tr("&Undo the last key"), QKeySequence(tr("Ctrl+Shift+K")), this,
                               [this] { UndoKey(); });
  undo_->setObjectName(QStringLiteral("UndoKey"));

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&Packages..."), this, [this] {
    QString text;
    for (const auto& p : packages_) {
      QStringList units;
      for (const std::string& u : p->UnitNames())
        units << FromBytes(u);
      text +=
          tr("%1: %2\n%3\nUnits: %4\n\n")
              .arg(FromBytes(p->Name()), FromBytes(p->Description()),
                   QString::fromStdString(p->Path().string()), units.join(QStringLiteral(", ")));
    }
    QMessageBox::information(this, tr("Packages"),
                             text.isEmpty() ? tr("No package is loaded.") : text.trimmed());
  });

  auto* tools = addToolBar(tr("Keys"));
  tools->setObjectName(QStringLiteral("KeysBar"));
  tools->addAction(draw_);
  tools->addAction(undo_);
  // What a trial draw fills the '@' places with (unless the generator's PeriodFormat does),
  // and its date: without them a draw would write the '@' signs into the real table.
  proc_text_ = new QLineEdit;
  proc_text_->setObjectName(QStringLiteral("ProcText"));
  proc_text_->setPlaceholderText(tr("'@' text"));
  proc_text_->setMaximumWidth(120);
  tools->addWidget(proc_text_);
  draw_date_ = new QLineEdit;
  draw_date_->setObjectName(QStringLiteral("DrawDate"));
  draw_date_->setPlaceholderText(tr("date: today"));
  draw_date_->setMaximumWidth(110);
  tools->addWidget(draw_date_);
}

void TDesignerWindow::LoadPackage(const std::filesystem::path& path) {
  // A second copy would share the first one's code and state, and unloading either would
  // take back both one's registrations.
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  for (const auto& loaded : packages_) {
    if (std::filesystem::weakly_canonical(loaded->Path(), ec) == canonical) {
      throw Exception("Package " + path.string() + " is already loaded");
    }
  }
  auto package = TPackage::Load(path);
  for (const auto& loaded : packages_) {
    if (loaded->Name() == package->Name()) {
      throw Exception("A package named " + package->Name() + " is already loaded (from " +
                      loaded->Path().string() + ")");
    }
  }
  package->Register();
  packages_.push_back(std::move(package));
  BuildPalette();
}

void TDesignerWindow::BuildPalette() {
  palette_->clear();
  std::vector<std::pair<QString, QWidget*>> pages;
  for (const TDesignRegistry::PaletteEntry& entry : TDesignRegistry::Global().Palette()) {
    const QString page = FromBytes(entry.Page);
    auto it =
        std::find_if(pages.begin(), pages.end(), [&](const auto& p) { return p.first == page; });
    if (it == pages.end()) {
      auto* widget = new QWidget;
      auto* layout = new QHBoxLayout(widget);
      layout->setContentsMargins(2, 2, 2, 2);
      layout->setSpacing(2);
      layout->addStretch();
      palette_->addTab(widget, page);
      pages.emplace_back(page, widget);
      it = pages.end() - 1;
    }
    const QString cls = FromBytes(entry.ClassName);
    auto* button = new QToolButton;
    button->setObjectName(cls);
    button->setIcon(Picture(cls));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(cls);
    button->setCheckable(true);
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, this,
            [this, cls](bool on) { ChooseClass(on ? cls : QString()); });
    auto* layout = qobject_cast<QHBoxLayout*>(it->second->layout());
    layout->insertWidget(layout->count() - 1, button);
  }
}

QPixmap TDesignerWindow::Picture(const QString& class_name) const {
  // A package brings the picture of each class as the resource named after the class.
  QPixmap picture(QStringLiteral(":/palette/") + class_name.toUpper());
  if (picture.isNull()) picture = style()->standardPixmap(QStyle::SP_FileDialogDetailedView);
  return picture.scaled(24, 24, Qt::KeepAspectRatio);
}

void TDesignerWindow::ChooseClass(const QString& class_name) {
  chosen_ = class_name;
  for (auto* button : palette_->findChildren<QToolButton*>())
    button->setChecked(!class_name.isEmpty() && button->objectName() == class_name);
  if (class_name.isEmpty()) {
    statusBar()->clearMessage();
  } else {
    statusBar()->showMessage(tr("Click on the form to place a %1").arg(class_name));
  }
}

bool TDesignerWindow::NewForm() {
  if (!ConfirmDiscard()) return false;
  auto root = std::make_unique<TDataModule>();
  root->SetDesigning(true);
  root->SetName("DataModule1");
  SetForm(std::move(root), QString());
  return true;
}

bool TDesignerWindow::OpenForm(const QString& path) {
  return ConfirmDiscard() && ReadForm(path);
}

bool TDesignerWindow::ReadForm(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  if (!in) {
    Report("Can not open " + path.toStdString());
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  try {
    // Read in the designer's state: the components are made designing.
    SetForm(ReadComponent(text.str(), TClassRegistry::Global(), true), path);
  } catch (const std::exception& e) {
    Report(path.toStdString() + ": " + e.what());
    return false;
  }
  return true;
}

bool TDesignerWindow::Save() {
  if (file_.isEmpty()) {
    const QString path = prompts_.FileName(this, true, QString());
    return !path.isEmpty() && SaveAs(path);
  }
  return SaveAs(file_);
}

bool TDesignerWindow::SaveAs(const QString& path) {
  try {
    WriteComponentFile(path.toStdString(), *root_);
  } catch (const std::exception& e) {
    Report(e.what());
    return false;
  }
  file_ = path;
  modified_ = false;
  UpdateState();
  return true;
}

bool TDesignerWindow::ConfirmDiscard() {
  if (!modified_) return true;
  const QString form = file_.isEmpty() ? FromBytes(root_->Name()) : file_;
  switch (prompts_.AskSave(this, form)) {
    case QMessageBox::Save:
      return Save();
    case QMessageBox::Discard:
      return true;
    default:
      return false;
  }
}

void TDesignerWindow::SetForm(std::unique_ptr<TComponent> root, const QString& file) {
  inspector_->SetComponent(nullptr);
  canvas_->SetRoot(nullptr);
  selected_ = nullptr;
  root_ = std::move(root);
  file_ = file;
  modified_ = false;
  canvas_->SetRoot(root_.get());
  Select(nullptr);
}

TComponent& TDesignerWindow::Selected() const {
  return selected_ != nullptr ? *selected_ : *root_;
}

void TDesignerWindow::Select(TComponent* component) {
  selected_ = component;
  canvas_->SetSelected(component);
  inspector_->SetComponent(&Selected());
  UpdateState();
}

std::string TDesignerWindow::UniqueName(const QString& class_name) const {
  std::string base = ToBytes(class_name);
  if (base.size() > 1 && (base[0] == 'T' || base[0] == 't')) base.erase(0, 1);
  for (int n = 1;; ++n) {
    std::string name = base + std::to_string(n);
    if (root_->FindComponent(name) == nullptr && CompareText(name, root_->Name()) != 0) {
      return name;
    }
  }
}

TComponent& TDesignerWindow::Drop(const QString& class_name, QPoint pos) {
  TComponent& c = TClassRegistry::Global().Create(ToBytes(class_name), *root_);
  c.SetName(UniqueName(class_name));
  c.SetDesignPosition(pos.x(), pos.y());
  canvas_->updateGeometry();
  Select(&c);
  Modified();
  return c;
}

std::unique_ptr<QMenu> TDesignerWindow::ContextMenu(TComponent& component) {
  auto menu = std::make_unique<QMenu>(this);
  // The editor lives as long as the menu: its actions call it.
  std::shared_ptr<TComponentEditor> editor =
      TDesignRegistry::Global().ComponentEditor(component, this);
  for (int i = 0; i < editor->GetVerbCount(); ++i) {
    menu->addAction(FromBytes(editor->GetVerb(i)), this, [this, editor, i] {
      try {
        editor->ExecuteVerb(i);
      } catch (const std::exception& e) {
        Report(e.what());
      }
      inspector_->Refresh();
    });
  }
  if (editor->GetVerbCount() > 0) menu->addSeparator();
  menu->addAction(delete_);
  return menu;
}

void TDesignerWindow::EditComponent(TComponent& component) {
  const auto editor = TDesignRegistry::Global().ComponentEditor(component, this);
  try {
    editor->Edit();
  } catch (const std::exception& e) {
    Report(e.what());
  }
  inspector_->Refresh();
}

void TDesignerWindow::DeleteSelected() {
  if (selected_ == nullptr) return;
  TComponent* gone = selected_;
  Select(nullptr);
  delete gone;  // NOLINT(cppcoreguidelines-owning-memory): frees it from its owner's list
  canvas_->update();
  Modified();
}

TGenerator* TDesignerWindow::SelectedGenerator() const {
  return dynamic_cast<TGenerator*>(selected_);
}

void TDesignerWindow::DrawKey() {
  TGenerator* g = SelectedGenerator();
  if (g == nullptr) return;
  const QString name = FromBytes(g->Name());
  try {
    if (const auto where = CreateDefaultGeneratorTable(g->DataBaseName(), g->TableName())) {
      AppendLog(
          tr("created generator table %1 in %2").arg(FromBytes(g->TableName()), FromBytes(*where)));
    }
    g->InitDBIfChanged();  // a table chosen since (Setup DB) is opened afresh
    if (g->Disabled()) {
      AppendLog(tr("%1: disabled (check its alias, its table, and that its start value is lower "
                   "than its end value)")
                    .arg(name));
      return;
    }
    const std::string proc = ToBytes(proc_text_->text());
    const int places = g->GenMask().ProcCount();
    if (places > 0 && g->PeriodFormat().empty() && static_cast<int>(proc.size()) != places) {
      AppendLog(tr("%1: the mask has %2 '@' place(s): give their text (or a PeriodFormat) "
                   "before a trial draw")
                    .arg(name)
                    .arg(places));
      return;
    }
    // The trial's text and date, for this draw only.
    struct Trial {  // NOLINT(cppcoreguidelines-special-member-functions): a scope guard
      TGenerator& g;
      TGenProcEvent saved;
      ~Trial() {
        g.GetUserPrefixes = saved;
        g.SetDrawDate(std::nullopt);
      }
    } trial{*g, g->GetUserPrefixes};
    if (!proc.empty() && g->PeriodFormat().empty())
      g->GetUserPrefixes = [proc](TObject*, TmString& text) { text = proc; };
    const QString date = draw_date_->text().trimmed();
    if (!date.isEmpty()) g->SetDrawDate(ParseDate(ToBytes(date)));
    AppendLog(tr("%1: %2").arg(name, FromBytes(g->Generator().view())));
  } catch (const std::exception& e) {
    AppendLog(tr("%1: %2").arg(name, FromBytes(e.what())));
    Report(e.what());
  }
}

void TDesignerWindow::UndoKey() {
  TGenerator* g = SelectedGenerator();
  if (g == nullptr || !g->Table().Active()) return;
  const QString name = FromBytes(g->Name());
  try {
    AppendLog(tr("%1: undone, back to %2").arg(name, FromBytes(g->Undo().view())));
  } catch (const std::exception& e) {
    AppendLog(tr("%1: %2").arg(name, FromBytes(e.what())));
    Report(e.what());
  }
}

void TDesignerWindow::AppendLog(const QString& line) {
  log_->appendPlainText(line);
  statusBar()->showMessage(line, 5000);
}

QString TDesignerWindow::Log() const {
  return log_->toPlainText();
}

void TDesignerWindow::Modified() {
  modified_ = true;
  canvas_->update();
  UpdateState();
}

void TDesignerWindow::UpdateState() {
  const QString form = file_.isEmpty() ? tr("Untitled") : QFileInfo(file_).fileName();
  setWindowTitle(tr("%1[*] - %2").arg(form, tr(kCaption)));
  setWindowModified(modified_);
  delete_->setEnabled(selected_ != nullptr);
  const bool generator = SelectedGenerator() != nullptr;
  draw_->setEnabled(generator);
  undo_->setEnabled(generator);
}

void TDesignerWindow::closeEvent(QCloseEvent* event) {
  if (ConfirmDiscard()) {
    event->accept();
  } else {
    event->ignore();
  }
}

std::vector<std::filesystem::path> DefaultPackages(const std::filesystem::path& program_dir) {
  return DefaultPackagePaths(
      program_dir / ".." / TGEN_INSTALL_LIBDIR / "tgenerator" / "tgenerator-package.so",
      TGEN_BUILD_PACKAGE);
}

}  // namespace tgen
