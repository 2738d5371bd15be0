target_sources(document PRIVATE
  WebBrowser.h
)
