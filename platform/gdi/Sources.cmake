target_sources(platform PRIVATE
  gdi/Gdi.h
  gdi/GdiQt.h
  gdi/GdiTesting.h
)
