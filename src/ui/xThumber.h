#pragma once
// Thumbnails for the file list: square cells holding the file's thumbnail (or its type's icon on
// a white card) with a 1-pixel frame and a soft drop shadow on the right and at the bottom.

#include <memory>
#include <string>
#include <vector>

#include <QColor>
#include <QIcon>
#include <QImage>

// Images of one size, appended in order and addressed by index (the file list's icons).
class TImageList {
public:
  TImageList() = default;
  TImageList(int width, int height) : Width_(width), Height_(height) {}

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  // A new cell size empties the list, as it does for a platform image list.
  void SetSize(int width, int height);
  void Clear() { Images.clear(); }
  int Count() const { return static_cast<int>(Images.size()); }
  // Appends a copy of the image and returns its index.
  int Add(const QImage& image);
  const QImage& Image(int index) const { return Images.at(static_cast<std::size_t>(index)); }
  QIcon Icon(int index) const;

private:
  int Width_ = 16, Height_ = 16;
  std::vector<QImage> Images;
};

// The five 8 x 8 shadow pieces, black with alpha: 0 left end of the bottom band, 1 bottom band,
// 2 bottom-right corner, 3 right band, 4 top end of the right band.
const TImageList& ShadowList();

class TThumbPrefetch;

class TThumber {
public:
  TThumber();
  ~TThumber();
  TThumber(const TThumber&) = delete;
  TThumber& operator=(const TThumber&) = delete;

  // The cell's fill colour: the file list's background.
  void SetBackColor(const QColor& color);
  QColor BackColor() const { return BackColor_; }
  // Sizes the cell to the list's images, fills it and draws the shadow bands; once per filling.
  void PrepareBackground(const TImageList& list);
  // Draws the file's thumbnail into the cell, appends a copy to the list and returns its index
  // (-1 when nothing was added).
  int AddThumbnail(const std::string& fileName, TImageList& list);
  // Starts making the thumbnails of these files for cells of the list's size on every core, in
  // this order; AddThumbnail then takes each one made (or waits for it) instead of making it.
  // The cells and the log lines are the ones AddThumbnail alone gives. A new call, or a
  // PrepareBackground for another size, drops what is left of the last one.
  void Prefetch(const std::vector<std::string>& fileNames, const TImageList& list);

  const QImage& Cell() const { return Cell_; }

  // Not owned; null draws no shadow and gives the whole cell to the thumbnail.
  const TImageList* Shadows = nullptr;

private:
  int ShadowWidth() const { return Shadows ? Shadows->Width() : 0; }
  void DrawCard(int width, int height);
  void DrawFrame(int width, int height);

  QImage Cell_;
  QColor BackColor_;
  std::unique_ptr<TThumbPrefetch> Ahead;
};
