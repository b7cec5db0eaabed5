#include "singers/frm_singers.h"

#include <algorithm>
#include <filesystem>

namespace velloran {

void Frm_Singers::Form_Load(const FontSpec& list_font) {
  view_.SetListFont(list_font);
  view_.SetPlacement(SavedOver(view_.Placement(), placement_));
  GetSingers();
}

void Frm_Singers::Form_Resize() {
  if (view_.IsMinimised()) return;
  const float w = view_.InnerWidth(), h = view_.InnerHeight();
  // With requests shown the queue keeps the upper half and the requests take the lower.
  const float queue_height = requests_ != nullptr ? h / 2 : h;
  const WindowRect list{w - 50, queue_height - 50 - kSingersButtonHeight, 0, 0};
  const float button = w / 2 - 50, top = list.Height + 50;
  view_.PlaceControls(list, WindowRect{button, kSingersButtonHeight, top, 0},
                      WindowRect{button, kSingersButtonHeight, top, button + 100});
  if (requests_ == nullptr) return;
  const float caption_top = queue_height + 50, list_top = caption_top + kSingersButtonHeight;
  const float buttons_top = h - 50 - kSingersButtonHeight;
  view_.PlaceRequestControls(WindowRect{w - 50, kSingersButtonHeight, caption_top, 0},
                             WindowRect{w - 50, std::max(buttons_top - 50 - list_top, 0.0f), list_top, 0},
                             WindowRect{button, kSingersButtonHeight, buttons_top, 0},
                             WindowRect{button, kSingersButtonHeight, buttons_top, button + 100});
}

void Frm_Singers::AttachRequests(PendingRequests* requests, AcceptSinger accept) {
  requests_ = requests;
  accept_ = std::move(accept);
  view_.ShowRequests(requests_ != nullptr);
  shown_requests_.clear();
  Form_Resize();
  FillRequests();
}

void Frm_Singers::FillRequests() {
  std::vector<uint64_t> ids;
  std::vector<std::string> lines;
  if (requests_ != nullptr) {
    for (const SongRequest& r : requests_->all()) {
      ids.push_back(r.Id);
      lines.push_back(SingerList::LineOf(r.Name, r.Song));
    }
  }
  if (ids == shown_requests_) return;
  shown_requests_ = std::move(ids);
  view_.SetRequestLines(lines);
}

void Frm_Singers::Cmd_Accept_Click() {
  SongRequest taken;
  if (requests_ == nullptr || !requests_->Take(view_.SelectedRequest(), taken)) return;
  if (accept_) accept_(taken.Name, taken.Song);
  FillRequests();
  GetSingers();
}

void Frm_Singers::Cmd_Decline_Click() {
  SongRequest taken;
  if (requests_ == nullptr || !requests_->Take(view_.SelectedRequest(), taken)) return;
  FillRequests();
}

void Frm_Singers::Form_Unload() {
  checked_ = false;
  placement_ = view_.Placement();
}

void Frm_Singers::GetSingers() {
  if (view_.LineCount() != singers_.count()) FillList();
  FillRequests();
}

void Frm_Singers::FillList() {
  std::vector<std::string> lines;
  for (int i = 1; i <= singers_.count(); ++i) lines.push_back(singers_.Line(i));
  view_.SetLines(lines);
  if (!lines.empty()) view_.SelectLine(0);
}

void Frm_Singers::Cmd_Next_Click() {
  next_.Show();
  if (singers_.empty()) return;
  next_.SetSinger(1);
  next_.ReDraw();
}

void Frm_Singers::Cmd_Remove_Click() {
  const int k = view_.SelectedLine();
  // Without a selected line there is no singer to remove.
  if (!singers_.empty() && k >= 0 && k < singers_.count()) {
    singers_.Remove(k + 1);
    view_.RemoveLine(k);
  }
  next_.Close();
}

void Frm_Singers::List1_MouseDown(MouseButton button) {
  if (button == MouseButton::kRight) view_.ShowFileMenu();
}

void Frm_Singers::Mnu_File_Save_Click() {
  const std::string path = dialogs_.ShowSave("", "*.sng", "sng", "", "Save singers list as?");
  if (path.empty()) return;
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored) &&
      dialogs_.MessageBox("File exists, overwrite it?", BoxButtons::kYesNo, BoxIcon::kQuestion, "") != BoxAnswer::kYes)
    return;
  jet::Status saved = singers_.Save(path);
  if (!saved.ok()) {
    dialogs_.MessageBox("The singers list was not saved: " + saved.error().message(), BoxButtons::kOk,
                        BoxIcon::kWarning, "");
  }
}

void Frm_Singers::Mnu_File_Load_Click() {
  FileList files;
  dialogs_.ShowOpen(files, "Singer Files|*.sng|All files|*.*", "", false, "Load singers list");
  if (files.size() < 2 || files[1].empty()) return;
  jet::Status loaded = singers_.Load(files[1]);
  if (!loaded.ok()) {
    dialogs_.MessageBox(loaded.error().message(), BoxButtons::kOk, BoxIcon::kWarning, "");
    return;
  }
  FillList();
}

void Frm_Singers::Mnu_File_Hide_Click() {
  checked_ = false;
  view_.Close();
}

}  // namespace velloran
