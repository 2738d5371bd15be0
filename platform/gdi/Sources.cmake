target_sources(platform PRIVATE
  gdi/Gdi.h
  gdi/GdiQt.h
  gdi/GdiTesting.h
  gdi/Blit.cpp
  gdi/Blit.h
  gdi/DeviceContext.cpp
  gdi/DibInfo.cpp
  gdi/DibInfo.h
  gdi/DibTransfer.cpp
  gdi/Drawing.cpp
  gdi/GdiObjects.cpp
  gdi/GdiObjects.h
  gdi/GdiQt.cpp
  gdi/GdiTesting.cpp
  gdi/PixelFormat.cpp
  gdi/PixelFormat.h
)
