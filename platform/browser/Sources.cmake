target_sources(platform PRIVATE
  browser/BrowserView.h
)
