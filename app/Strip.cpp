// The recording strip: tiles, scrolling, selection, history menu, play, delete.
#include "app/Unit1.h"

void TForm1::RebuildStrip() {}
void TForm1::RefreshAfterSettings() { RebuildStrip(); }
void TForm1::ShowVisibleTiles() {}
void TForm1::TileClick(TImage*) {}
void TForm1::HistoryItemClick(QAction*) {}
void TForm1::PlaySelection() {}
void TForm1::Image3Click() {}
void TForm1::Image4Click() {}
void TForm1::Image6Click() { PlaySelection(); }
void TForm1::Image8Click() {}
void TForm1::Image11Click() {}
void TForm1::Image12Click() {}
void TForm1::Image16Click() {}
void TForm1::Timer3Timer() {}
void TForm1::Timer7Timer() {}
