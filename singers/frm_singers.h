// The singers window without widgets: the queue as a list of lines refreshed every two seconds,
// "&Next Singer" and "&Remove", and the popup with "&Load", "&Save" and "&Hide". The Qt window
// only forwards its events here and shows what the logic sets through SingersView.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"
#include "singers/singer_list.h"
#include "singers/song_requests.h"

namespace velloran {

// What the singers window's logic asks of its window; sizes in twips.
class SingersView {
 public:
  virtual ~SingersView() = default;
  virtual WindowRect Placement() = 0;
  virtual void SetPlacement(const WindowRect& rect) = 0;
  virtual float InnerWidth() = 0;
  virtual float InnerHeight() = 0;
  virtual bool IsMinimised() = 0;
  virtual void SetListFont(const FontSpec& font) = 0;
  // List1: its lines, and the selected line (-1 for none).
  virtual int LineCount() = 0;
  virtual void SetLines(const std::vector<std::string>& lines) = 0;
  virtual void RemoveLine(int k) = 0;
  virtual int SelectedLine() = 0;
  virtual void SelectLine(int k) = 0;
  // List1 and the two buttons (left, top, width, height each).
  virtual void PlaceControls(const WindowRect& list, const WindowRect& next, const WindowRect& remove) = 0;
  virtual void ShowFileMenu() = 0;
  // The "Requests" list of songs asked for from phones, under the queue while the request server
  // runs: shown or hidden, its lines, the selected line (-1 for none), and its caption, list and
  // "&Accept" and "&Decline" buttons placed.
  virtual void ShowRequests(bool shown) {}
  virtual void SetRequestLines(const std::vector<std::string>& lines) {}
  virtual int SelectedRequest() { return -1; }
  virtual void PlaceRequestControls(const WindowRect& caption, const WindowRect& list, const WindowRect& accept,
                                    const WindowRect& decline) {}
  // Closes the window; closing runs Form_Unload.
  virtual void Close() = 0;
};

// The next-singer display as the singers window drives it.
class NextSingerDisplay {
 public:
  virtual ~NextSingerDisplay() = default;
  // Opens it (at its saved placement, drawn once) or brings it forward.
  virtual void Show() = 0;
  virtual void SetSinger(int16_t slot) = 0;
  virtual void ReDraw() = 0;
  virtual void Close() = 0;
};

constexpr float kSingersDesignWidth = 2340, kSingersDesignHeight = 4965, kSingersButtonHeight = 375;

class Frm_Singers {
 public:
  // `placement` is the settings' singer window placement; `singers_checked` the main window's
  // "&Singers" check mark.
  Frm_Singers(SingerList& singers, SingersView& view, NextSingerDisplay& next, DialogHost& dialogs,
              WindowRect& placement, bool& singers_checked)
      : singers_(singers), view_(view), next_(next), dialogs_(dialogs), placement_(placement),
        checked_(singers_checked) {}

  void Form_Load(const FontSpec& list_font);
  void Form_Resize();
  void Form_Unload();
  void GetSingers();
  void Timer1_Timer() { GetSingers(); }
  void Cmd_Next_Click();
  void Cmd_Remove_Click();
  void List1_MouseDown(MouseButton button);
  void Mnu_File_Load_Click();
  void Mnu_File_Save_Click();
  void Mnu_File_Hide_Click();

  // The phones' requests: shown while `requests` is set; `accept` does with an accepted singer
  // and song what Enter in the main window does with a typed name.
  using AcceptSinger = std::function<void(const std::string& name, const ResultRow& song)>;
  void AttachRequests(PendingRequests* requests, AcceptSinger accept);
  void Cmd_Accept_Click();
  void Cmd_Decline_Click();

 private:
  void FillList();
  void FillRequests();

  PendingRequests* requests_ = nullptr;
  AcceptSinger accept_;
  std::vector<uint64_t> shown_requests_;  // the ids the requests list shows, in order

  SingerList& singers_;
  SingersView& view_;
  NextSingerDisplay& next_;
  DialogHost& dialogs_;
  WindowRect& placement_;
  bool& checked_;
};

}  // namespace velloran
