#include "payload/file_handle.h"

int FileHandle::openRead(const char* path)
{
    if (isOpen())
        return 0;
    file_ = os::calls().openForRead(path);
    return isOpen() ? 1 : 0;
}

int FileHandle::openWrite(const char* path)
{
    if (isOpen())
        return 0;
    file_ = os::calls().createForWrite(path);
    return isOpen() ? 1 : 0;
}

int FileHandle::createNew(const char* path)
{
    if (isOpen())
        return 0;
    file_ = os::calls().createNewFile(path);
    return isOpen() ? 1 : 0;
}

int FileHandle::openName(const char* path, int forChange)
{
    if (isOpen())
        return 0;
    file_ = os::calls().openExistingName(path, forChange);
    return isOpen() ? 1 : 0;
}

int FileHandle::openFolder(const char* path)
{
    if (isOpen())
        return 0;
    file_ = os::calls().openFolder(path);
    return isOpen() ? 1 : 0;
}

int FileHandle::info(uint32_t* attributes, uint32_t* links) const
{
    if (!isOpen())
        return 0;
    return os::calls().getFileInfo(file_, attributes, links);
}

int FileHandle::finalPath(char* out, uint32_t size) const
{
    if (!isOpen())
        return 0;
    uint32_t length = os::calls().getFinalPath(file_, out, size);
    return (length != 0 && length < size) ? 1 : 0;
}

int FileHandle::setAttributes(uint32_t attributes)
{
    if (!isOpen())
        return 0;
    return os::calls().setAttributesOf(file_, attributes);
}

int FileHandle::deleteName(const char* path)
{
    if (!isOpen())
        return 0;
    return os::calls().deleteOpenFile(file_, path);
}

int FileHandle::moveName(const char* path, const char* to)
{
    if (!isOpen())
        return 0;
    return os::calls().moveOpenFile(file_, path, to);
}

uint32_t FileHandle::read(void* buffer, uint32_t count)
{
    if (!isOpen())
        return 0;
    uint32_t done = 0;
    return os::calls().readFile(file_, buffer, count, &done) ? done : 0;
}

uint32_t FileHandle::write(const void* buffer, uint32_t count)
{
    if (!isOpen())
        return 0;
    uint32_t done = 0;
    return os::calls().writeFile(file_, buffer, count, &done) ? done : 0;
}

int FileHandle::seek(uint32_t position)
{
    if (!isOpen())
        return 0;
    // The position goes out as a signed distance with no high part, so 2 GiB
    // and above are refused by the system call itself.
    int32_t distance = static_cast<int32_t>(position);
    uint32_t at = os::calls().setFilePointer(file_, distance);
    return (at != os::kInvalidFilePointer && at == position) ? 1 : 0;
}

uint32_t FileHandle::size() const
{
    if (!isOpen())
        return os::kInvalidFileSize;
    return os::calls().getFileSize(file_);
}

int FileHandle::flush()
{
    if (!isOpen())
        return 0;
    return os::calls().flushFileBuffers(file_);
}

void FileHandle::close()
{
    if (!isOpen())
        return;
    os::calls().closeHandle(file_);
    file_ = os::noFile();
}
