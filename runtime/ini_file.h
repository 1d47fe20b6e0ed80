#pragma once
// The configuration file model: File > Section (every block of one bracketed
// name) > SubSection (one block, with the line of its header) > Key > SubKey
// (one value, with its line). Each level owns the next through an intrusive
// list kept in file order; File and SubSection also index their children by
// name. The parser never fails: text it cannot use is dropped, and only
// IniFile::Reader reports problems, with the lines the model remembers.
#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

// Forward walk over one level; a null element is the end.
template <class T>
class GenericIterator {
 public:
  explicit GenericIterator(T* p = nullptr) : mPtr(p) {}
  T& operator*() const { return *mPtr; }
  T* operator->() const { return mPtr; }
  GenericIterator& operator++() {
    if (mPtr) mPtr = mPtr->next();
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    ++*this;
    return old;
  }
  bool operator!=(const GenericIterator& o) const { return mPtr != o.mPtr; }
  bool operator==(const GenericIterator& o) const { return mPtr == o.mPtr; }

 private:
  T* mPtr;
};

namespace Private {

// An element of an owning list: the owner appends and deletes, the element
// only knows its neighbours.
template <class T>
class Linked {
 public:
  T* next() const { return mNext; }
  T* prev() const { return mPrev; }

 protected:
  Linked() = default;
  ~Linked() = default;
  Linked(const Linked&) = delete;
  Linked& operator=(const Linked&) = delete;

 private:
  template <class U>
  friend class OwnedList;
  T* mNext = nullptr;
  T* mPrev = nullptr;
};

template <class T>
class OwnedList {
 public:
  OwnedList() = default;
  ~OwnedList() { clear(); }
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;

  T* append(T* e) {
    e->mPrev = mLast;
    e->mNext = nullptr;
    if (mLast)
      mLast->mNext = e;
    else
      mFirst = e;
    mLast = e;
    ++mCount;
    return e;
  }
  void clear() {
    T* e = mFirst;
    mFirst = mLast = nullptr;
    mCount = 0;
    while (e) {
      T* n = e->mNext;
      delete e;
      e = n;
    }
  }
  T* first() const { return mFirst; }
  T* last() const { return mLast; }
  int count() const { return mCount; }

 private:
  T* mFirst = nullptr;
  T* mLast = nullptr;
  int mCount = 0;
};

}  // namespace Private

class SubKey : public Private::Linked<SubKey> {
 public:
  SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}

  const std::string& value() const { return mValue; }
  int lineNo() const { return mLineNo; }

  // Typed views of the value text; def is returned for text they cannot read.
  bool GetBool(bool def) const;
  void SetBool(bool v);
  int GetInt(int def) const;
  void SetInt(int v);
  float GetFloat(float def) const;
  void SetFloat(float v);

  void Dump(std::ostream& os) const;

 private:
  std::string mValue;
  int mLineNo;
};

class Key : public Private::Linked<Key> {
 public:
  explicit Key(const std::string& name) : mName(name) {}

  const std::string& name() const { return mName; }
  int count() const { return mSubKeys.count(); }
  SubKey* first() const { return mSubKeys.first(); }
  SubKey* last() const { return mSubKeys.last(); }
  GenericIterator<SubKey> begin() const { return GenericIterator<SubKey>(first()); }
  GenericIterator<SubKey> end() const { return GenericIterator<SubKey>(); }

  SubKey* NewSubKey(const std::string& value, int line);
  void CleanSubKeys() { mSubKeys.clear(); }
  // A key that is present must read as having a value.
  void CheckEmpty();

  void Dump(std::ostream& os) const;

 private:
  std::string mName;
  Private::OwnedList<SubKey> mSubKeys;
};

class SubSection : public Private::Linked<SubSection> {
 public:
  explicit SubSection(int line) : mLineNo(line) {}

  int lineNo() const { return mLineNo; }
  int count() const { return mKeys.count(); }
  Key* first() const { return mKeys.first(); }
  Key* last() const { return mKeys.last(); }
  GenericIterator<Key> begin() const { return GenericIterator<Key>(first()); }
  GenericIterator<Key> end() const { return GenericIterator<Key>(); }

  // Finds the key, creating an empty one when absent: a lookup never fails.
  Key& operator[](const std::string& name);
  Key* NewKey(const std::string& name);
  SubKey* NewSubKey(const std::string& keyName, const std::string& value, int line);
  void CleanKeys();

  void Dump(std::ostream& os) const;

 private:
  int mLineNo;
  Private::OwnedList<Key> mKeys;
  std::map<std::string, Key*> mIndex;
};

class Section : public Private::Linked<Section> {
 public:
  explicit Section(const std::string& name) : mName(name) {}

  const std::string& name() const { return mName; }
  int count() const { return mSubSections.count(); }
  SubSection* first() const { return mSubSections.first(); }
  SubSection* last() const { return mSubSections.last(); }
  GenericIterator<SubSection> begin() const { return GenericIterator<SubSection>(first()); }
  GenericIterator<SubSection> end() const { return GenericIterator<SubSection>(); }

  SubSection* NewSubSection(int line);
  void CleanSubSections() { mSubSections.clear(); }
  // A section that is looked at must read as having one (headerless) block.
  void CheckEmpty();

  void Dump(std::ostream& os) const;

 private:
  std::string mName;
  Private::OwnedList<SubSection> mSubSections;
};

class File {
 public:
  File() = default;
  explicit File(const std::string& name) { Open(name); }
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False only when the file cannot be opened; an empty file is fine.
  bool Open(const std::string& name);
  void Close();
  void Sync() {}
  bool isOpen() const { return mOpen; }
  const std::string& fileName() const { return mFileName; }

  int count() const { return mSections.count(); }
  Section* first() const { return mSections.first(); }
  Section* last() const { return mSections.last(); }
  GenericIterator<Section> begin() const { return GenericIterator<Section>(first()); }
  GenericIterator<Section> end() const { return GenericIterator<Section>(); }

  // Finds the section, creating an empty one when absent, so a missing
  // section reads as one without blocks.
  Section& operator[](const std::string& name);
  Section* NewSection(const std::string& name);
  SubSection* NewSubSection(const std::string& name, int line);
  void CleanSections();

  void Dump(std::ostream& os) const;

  friend std::istream& operator>>(std::istream& is, File& f);

 private:
  void IntOpenStream(std::istream& is);

  std::string mFileName;
  bool mOpen = false;
  Private::OwnedList<Section> mSections;
  std::map<std::string, Section*> mIndex;
};

std::istream& operator>>(std::istream& is, File& f);

}  // namespace IniFile
