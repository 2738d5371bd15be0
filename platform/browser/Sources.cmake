target_sources(platform PRIVATE
  browser/BrowserView.h
  browser/BrowserView.cpp
  browser/BrowserError.h
  browser/CallLimits.h
  browser/CallLimits.cpp
  browser/Connection.h
  browser/Connection.cpp
  browser/Engine.h
  browser/Engine.cpp
  browser/PipeTransport.h
  browser/PipeTransport.cpp
  browser/Pixels.h
  browser/Pixels.cpp
)
