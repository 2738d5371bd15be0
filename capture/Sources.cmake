target_sources(capture PRIVATE DrawDib.h DrawDib.cpp Render.h Render.cpp PictureWriter.h PictureWriter.cpp)
