// The picture file, written under a temporary name beside its target and renamed into place
// only when whole: a failed or interrupted run leaves no file behind, and a picture drawn
// before stays as it was.
#ifndef AOPLAY_PLOT_OUTPUT_H
#define AOPLAY_PLOT_OUTPUT_H

#include <string>

class OutputFile {
  public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    int fd() const { return fd_; }
    // Puts the finished picture in place of the target.
    void commit();

  private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// A text file written whole or not at all, the same way.
void write_whole_file(const std::string &path, const std::string &text);

#endif
