/* Objects lent across the line between Python and the SDK.
 *
 * The SDK lends objects to Python: an image belongs to its buffer, a buffer
 * taken from a pipeline to the pipeline, a part to its container. Every
 * pointer object that a method hands out without owning its object keeps the
 * owner of the method's `self` alive: it holds a reference to that owner's
 * pointer object (its anchor), so that Python may drop the proxy it called
 * the method on at once. The anchor of a pointer object is the object itself
 * when it owns its SDK object, else the anchor it keeps, else (a borrowed
 * object of unknown owner) itself; so a proxy made from a borrowed proxy
 * keeps the first one's owner, never a growing chain.
 *
 * Python lends objects to the SDK: a selector given to a triggered source, a
 * transmitter added to a virtual device, an adapter to an open serial port.
 * The SDK keeps their addresses; their holders keep their anchors here,
 * under a key of the SDK object that holds them and a slot, until the SDK
 * lets go of them (a replacement, a close, the holder's destruction).
 * Where the SDK lets go of an object by itself as it is destroyed (a buffer
 * queued to a stream leaves the queue), the holder only notes its anchor,
 * without keeping it, so that what the SDK hands back later (the buffer
 * retrieved) can keep it; a note ends with the object noted.
 *
 * Destroying an object explicitly (its class's delete_ function, or a
 * factory's Free) while an SDK holder keeps it empties the pointer object it
 * was called with, as destruction does, but hands the SDK object to a new
 * owning pointer object that takes its place in every reference kept here:
 * the SDK object is destroyed once the last of them goes. Destroying one
 * that only proxies keep destroys it, and empties those proxies: they refuse
 * every call from then on, as None would, instead of reaching freed memory.
 *
 * The references are kept in one table for the process, shared by every
 * module that carries this file (each module's entry in the type table's
 * ring of modules points to it), so that an object lent by one module and
 * destroyed by another is seen by both. The table is used with the
 * interpreter lock held only. Releasing a reference may destroy objects,
 * whose destruction comes back here: the table is always consistent before
 * a reference is released. */

%{
#include <map>
#include <unordered_map>

#include "TnHeldObjects.h"
#include <utility>
#include <vector>

typedef std::pair<const void *, const void *> TnLendingKey; // (holder, slot)

/* The table's operations, reached through the module that made it. */
struct TnLending
{
    char mMagic[16];
    unsigned mVersion;
    /* aObject keeps aAnchor (a new reference), in place of what it kept. */
    void (*mKeep)(PyObject *aObject, PyObject *aAnchor);
    /* What aObject keeps (borrowed), or null. */
    PyObject *(*mKept)(PyObject *aObject);
    /* aObject goes: what it kept, now the caller's reference (or null); its
     * notes end. */
    PyObject *(*mGone)(PyObject *aObject);
    /* aHolder keeps aAnchor in aSlot, in place of what it kept there; a null
     * anchor only ends what it kept. */
    void (*mHold)(const void *aHolder, const void *aSlot, PyObject *aAnchor);
    /* What aHolder kept in aSlot, now the caller's reference, or null. */
    PyObject *(*mTake)(const void *aHolder, const void *aSlot);
    /* aHolder notes aObject in aSlot, without keeping it. */
    void (*mNote)(const void *aHolder, const void *aSlot, PyObject *aObject);
    /* What aHolder noted in aSlot (borrowed; the note ends), or null. */
    PyObject *(*mTakeNote)(const void *aHolder, const void *aSlot);
    /* aHolder keeps and notes nothing any more. */
    void (*mForget)(const void *aHolder);
    /* How many holders keep aAnchor. */
    size_t (*mHolders)(PyObject *aAnchor);
    /* An anchor a holder keeps whose pointer object wraps aPointer
     * (borrowed), or null. */
    PyObject *(*mHeldWrapping)(const void *aPointer);
    /* The objects that keep aAnchor (borrowed), into aObjects. */
    void (*mKeepers)(PyObject *aAnchor, std::vector<PyObject *> &aObjects);
    /* Every reference kept here on aFrom, what aFrom keeps and what is noted
     * of it move to aTo. */
    void (*mMove)(PyObject *aFrom, PyObject *aTo);
    /* The calls in progress and what they use (tn_uses.i). */
    struct TnUses *mUses;
    /* aObject holds aHeld (an object its owner may replace: tn_hold_replaceable)
     * until it goes. */
    void (*mHoldReplaceable)(PyObject *aObject, const void *aHeld);
    /* aObject, handed out by aLender, holds what aLender holds. */
    void (*mHoldAsLender)(PyObject *aObject, PyObject *aLender);
};

static const char tn_lending_magic[16] = "tarn lending";
static const unsigned tn_lending_version = 3;

/* Pointer objects and the anchors they keep: every borrowed object that a
 * method hands out enters it and leaves it as it goes, so it is an open
 * table that allocates nothing per entry. */
class TnKeptTable
{
public:
    bool Empty() const
    {
        return mCount == 0;
    }

    PyObject *Find(PyObject *aKey) const
    {
        if (mCount == 0) {
            return NULL;
        }
        for (size_t index = Start(aKey);; index = (index + 1) & (mSlots.size() - 1)) {
            const Slot &slot = mSlots[index];
            if (slot.mKey == aKey) {
                return slot.mValue;
            }
            if (slot.mKey == NULL) {
                return NULL;
            }
        }
    }

    /* aKey's value becomes aValue (not null); the value it had, or null. */
    PyObject *Set(PyObject *aKey, PyObject *aValue)
    {
        if ((mUsed + 1) * 2 > mSlots.size()) {
            Resize();
        }
        Slot *free = NULL;
        for (size_t index = Start(aKey);; index = (index + 1) & (mSlots.size() - 1)) {
            Slot &slot = mSlots[index];
            if (slot.mKey == aKey) {
                PyObject *before = slot.mValue;
                slot.mValue = aValue;
                return before;
            }
            if (slot.mKey == Gone() && free == NULL) {
                free = &slot;
            }
            if (slot.mKey == NULL) {
                if (free == NULL) {
                    free = &slot;
                    ++mUsed;
                }
                free->mKey = aKey;
                free->mValue = aValue;
                ++mCount;
                return NULL;
            }
        }
    }

    /* Removes aKey; the value it had, or null. */
    PyObject *Erase(PyObject *aKey)
    {
        if (mCount == 0) {
            return NULL;
        }
        for (size_t index = Start(aKey);; index = (index + 1) & (mSlots.size() - 1)) {
            Slot &slot = mSlots[index];
            if (slot.mKey == aKey) {
                PyObject *value = slot.mValue;
                slot.mKey = Gone();
                slot.mValue = NULL;
                --mCount;
                return value;
            }
            if (slot.mKey == NULL) {
                return NULL;
            }
        }
    }

    /* Calls aVisit(key, value reference) for every entry. */
    template <typename Visit> void ForEach(Visit aVisit)
    {
        for (Slot &slot : mSlots) {
            if (slot.mKey != NULL && slot.mKey != Gone()) {
                aVisit(slot.mKey, slot.mValue);
            }
        }
    }

private:
    struct Slot
    {
        PyObject *mKey;
        PyObject *mValue;
    };

    static PyObject *Gone()
    {
        return reinterpret_cast<PyObject *>(1);
    }

    size_t Start(PyObject *aKey) const
    {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(aKey) >> 4) * 0x9E3779B97F4A7C15ull) &
               (mSlots.size() - 1);
    }

    /* Room for twice the entries there are, tombstones dropped. */
    void Resize()
    {
        size_t size = 64;
        while (size < 4 * (mCount + 1)) {
            size *= 2;
        }
        std::vector<Slot> slots(size, Slot{NULL, NULL});
        slots.swap(mSlots);
        mCount = mUsed = 0;
        for (const Slot &slot : slots) {
            if (slot.mKey != NULL && slot.mKey != Gone()) {
                Set(slot.mKey, slot.mValue);
            }
        }
    }

    std::vector<Slot> mSlots;
    size_t mCount = 0; // entries
    size_t mUsed = 0;  // entries and tombstones
};

/* The table; kept by the module that made it (null in the others). */
struct TnLendingTable
{
    TnKeptTable mKept;                                            // pointer object -> its anchor
    std::map<TnLendingKey, PyObject *> mHeld;                     // (holder, slot) -> anchor
    std::unordered_map<PyObject *, size_t> mHolders;              // anchor -> holders keeping it
    std::map<TnLendingKey, PyObject *> mNoted;                    // (holder, slot) -> object noted
    std::unordered_map<PyObject *, std::vector<TnLendingKey>> mNotes; // object -> where it is noted
    std::unordered_map<PyObject *, tn::HeldObject *> mHolds;      // pointer object -> what it holds
};
static TnLendingTable *tn_lending_table = NULL;

/* Counts a reference on aAnchor in aCounts; with aAdd false, one less (the
 * reference is then the caller's). */
static void tn_lending_count(std::unordered_map<PyObject *, size_t> &aCounts, PyObject *aAnchor, bool aAdd)
{
    if (aAdd) {
        Py_INCREF(aAnchor);
        ++aCounts[aAnchor];
        return;
    }
    const auto found = aCounts.find(aAnchor);
    if (found != aCounts.end() && --found->second == 0) {
        aCounts.erase(found);
    }
}

static PyObject *tn_lending_drop(PyObject *aObject)
{
    return tn_lending_table->mKept.Erase(aObject);
}

static void tn_lending_keep(PyObject *aObject, PyObject *aAnchor)
{
    Py_INCREF(aAnchor);
    Py_XDECREF(tn_lending_table->mKept.Set(aObject, aAnchor));
}

static PyObject *tn_lending_kept(PyObject *aObject)
{
    return tn_lending_table->mKept.Find(aObject);
}

/* Ends the note under aKey, if any. */
static void tn_lending_unnote(const TnLendingKey &aKey)
{
    const auto found = tn_lending_table->mNoted.find(aKey);
    if (found == tn_lending_table->mNoted.end()) {
        return;
    }
    const auto notes = tn_lending_table->mNotes.find(found->second);
    if (notes != tn_lending_table->mNotes.end()) {
        std::vector<TnLendingKey> &keys = notes->second;
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == aKey) {
                keys[i] = keys.back();
                keys.pop_back();
                break;
            }
        }
        if (keys.empty()) {
            tn_lending_table->mNotes.erase(notes);
        }
    }
    tn_lending_table->mNoted.erase(found);
}

static PyObject *tn_lending_gone(PyObject *aObject)
{
    if (!tn_lending_table->mHolds.empty()) {
        const auto held = tn_lending_table->mHolds.find(aObject);
        if (held != tn_lending_table->mHolds.end()) {
            tn::HeldObject *hold = held->second;
            tn_lending_table->mHolds.erase(held);
            tn::ReleaseHold(hold); // may destroy an array or map an owner retired
        }
    }
    if (!tn_lending_table->mNotes.empty()) {
        const auto notes = tn_lending_table->mNotes.find(aObject);
        if (notes != tn_lending_table->mNotes.end()) {
            for (const TnLendingKey &key : notes->second) {
                tn_lending_table->mNoted.erase(key);
            }
            tn_lending_table->mNotes.erase(notes);
        }
    }
    return tn_lending_table->mKept.Empty() ? NULL : tn_lending_drop(aObject);
}

static PyObject *tn_lending_take(const void *aHolder, const void *aSlot)
{
    const auto found = tn_lending_table->mHeld.find(TnLendingKey(aHolder, aSlot));
    if (found == tn_lending_table->mHeld.end()) {
        return NULL;
    }
    PyObject *anchor = found->second;
    tn_lending_table->mHeld.erase(found);
    tn_lending_count(tn_lending_table->mHolders, anchor, false);
    return anchor;
}

static void tn_lending_hold(const void *aHolder, const void *aSlot, PyObject *aAnchor)
{
    PyObject *before = tn_lending_take(aHolder, aSlot);
    if (aAnchor != NULL) {
        tn_lending_count(tn_lending_table->mHolders, aAnchor, true);
        tn_lending_table->mHeld[TnLendingKey(aHolder, aSlot)] = aAnchor;
    }
    Py_XDECREF(before);
}

static void tn_lending_note(const void *aHolder, const void *aSlot, PyObject *aObject)
{
    const TnLendingKey key(aHolder, aSlot);
    tn_lending_unnote(key);
    if (aObject != NULL) {
        tn_lending_table->mNoted[key] = aObject;
        tn_lending_table->mNotes[aObject].push_back(key);
    }
}

static PyObject *tn_lending_take_note(const void *aHolder, const void *aSlot)
{
    const TnLendingKey key(aHolder, aSlot);
    const auto found = tn_lending_table->mNoted.find(key);
    PyObject *object = found != tn_lending_table->mNoted.end() ? found->second : NULL;
    tn_lending_unnote(key);
    return object;
}

static void tn_lending_forget(const void *aHolder)
{
    const TnLendingKey first(aHolder, NULL);
    for (auto note = tn_lending_table->mNoted.lower_bound(first);
         note != tn_lending_table->mNoted.end() && note->first.first == aHolder;
         note = tn_lending_table->mNoted.lower_bound(first)) {
        tn_lending_unnote(note->first);
    }
    std::vector<PyObject *> released;
    auto entry = tn_lending_table->mHeld.lower_bound(first);
    while (entry != tn_lending_table->mHeld.end() && entry->first.first == aHolder) {
        released.push_back(entry->second);
        tn_lending_count(tn_lending_table->mHolders, entry->second, false);
        entry = tn_lending_table->mHeld.erase(entry);
    }
    for (PyObject *anchor : released) {
        Py_DECREF(anchor);
    }
}

static size_t tn_lending_holders(PyObject *aAnchor)
{
    if (tn_lending_table->mHolders.empty()) {
        return 0;
    }
    const auto found = tn_lending_table->mHolders.find(aAnchor);
    return found != tn_lending_table->mHolders.end() ? found->second : 0;
}

static PyObject *tn_lending_held_wrapping(const void *aPointer)
{
    for (const auto &entry : tn_lending_table->mHolders) {
        if (reinterpret_cast<SwigPyObject *>(entry.first)->ptr == aPointer) {
            return entry.first;
        }
    }
    return NULL;
}

static void tn_lending_keepers(PyObject *aAnchor, std::vector<PyObject *> &aObjects)
{
    tn_lending_table->mKept.ForEach([&](PyObject *aObject, PyObject *&aKept) {
        if (aKept == aAnchor) {
            aObjects.push_back(aObject);
        }
    });
}

static void tn_lending_move(PyObject *aFrom, PyObject *aTo)
{
    size_t keepers = 0, holders = 0;
    PyObject *kept = tn_lending_drop(aFrom);
    tn_lending_table->mKept.ForEach([&](PyObject *, PyObject *&aKept) {
        if (aKept == aFrom) {
            aKept = aTo;
            ++keepers;
        }
    });
    for (auto &entry : tn_lending_table->mHeld) {
        if (entry.second == aFrom) {
            entry.second = aTo;
            ++holders;
        }
    }
    tn_lending_table->mHolders.erase(aFrom);
    if (holders != 0) {
        tn_lending_table->mHolders[aTo] += holders;
    }
    const auto notes = tn_lending_table->mNotes.find(aFrom);
    if (notes != tn_lending_table->mNotes.end()) {
        std::vector<TnLendingKey> keys;
        keys.swap(notes->second);
        tn_lending_table->mNotes.erase(notes);
        for (const TnLendingKey &key : keys) {
            tn_lending_table->mNoted[key] = aTo;
        }
        tn_lending_table->mNotes[aTo] = keys;
    }
    if (kept != NULL) {
        tn_lending_table->mKept.Set(aTo, kept); // the reference moves with it
    }
    const auto held = tn_lending_table->mHolds.find(aFrom);
    if (held != tn_lending_table->mHolds.end()) {
        tn::HeldObject *hold = held->second;
        tn_lending_table->mHolds.erase(held);
        tn_lending_table->mHolds[aTo] = hold;
    }
    for (size_t i = 0; i < keepers + holders; ++i) {
        Py_INCREF(aTo);
        Py_DECREF(aFrom);
    }
}

static void tn_lending_hold_replaceable(PyObject *aObject, const void *aHeld)
{
    tn::HeldObject *hold = tn::HoldObject(aHeld);
    tn::HeldObject *&slot = tn_lending_table->mHolds[aObject];
    tn::HeldObject *before = slot;
    slot = hold;
    tn::ReleaseHold(before);
}

static void tn_lending_hold_as_lender(PyObject *aObject, PyObject *aLender)
{
    if (tn_lending_table->mHolds.empty()) {
        return;
    }
    const auto held = tn_lending_table->mHolds.find(aLender);
    if (held != tn_lending_table->mHolds.end() && tn_lending_table->mHolds.count(aObject) == 0) {
        tn::HoldAgain(held->second);
        tn_lending_table->mHolds[aObject] = held->second;
    }
}

/* The table of the process, found or made at the module's start. */
static TnLending *tn_lending = NULL;

/* The calls in progress (tn_uses.i). */
static struct TnUses *tn_uses_new();
static void tn_uses_forget(PyObject *aObject, PyObject *aAnchor);
static bool tn_uses_destruction_deferred(PyObject *aObject);
static bool tn_uses_hands_out_destroyed(const void *aAddress, PyObject *aLender);
static inline bool tn_uses_any_held();

/* Pointer objects this module makes leave the table as they go: after
 * their SDK object (when they own one), what they kept is released. */
static destructor tn_pointer_dealloc_of_runtime = NULL;

static void tn_pointer_dealloc(PyObject *aObject)
{
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(aObject);
    if ((pointer->own & SWIG_POINTER_OWN) && (pointer->ty == NULL || pointer->ty->clientdata == NULL) &&
        Py_IsFinalizing()) {
        // The interpreter ends and the modules' type records went before this
        // object (a module's constant, an object a collected one held): it
        // goes with the process, without the runtime's report of a leak.
        pointer->own = 0;
    }
    PyObject *kept = tn_lending != NULL ? tn_lending->mGone(aObject) : NULL;
    tn_pointer_dealloc_of_runtime(aObject);
    if (tn_lending != NULL) {
        tn_uses_forget(aObject, kept); // records of the calls that still name it
    }
    Py_XDECREF(kept);
}

/* Python may not take over an object that another object owns (an image
 * of its buffer, a buffer of its pipeline): both would destroy it. own(True)
 * and acquire() of a pointer object that keeps its owner's anchor refuse;
 * everything else goes to the runtime's own methods, which every module
 * shares: the first module replaces them, the others find them replaced. */
static const char tn_owning_doc[] = "returns/sets ownership of the pointer (not of one its owner keeps)";
static PyObject *tn_runtime_own = NULL;
static PyObject *tn_runtime_acquire = NULL;

static bool tn_owning_refused(PyObject *aPointer)
{
    if (tn_lending == NULL || (reinterpret_cast<SwigPyObject *>(aPointer)->own & SWIG_POINTER_OWN) ||
        tn_lending->mKept(aPointer) == NULL) {
        return false;
    }
    PyErr_SetString(PyExc_ValueError, "the object belongs to the object it came from, which destroys it: Python "
                                      "cannot own it");
    return true;
}

static PyObject *tn_call_runtime(PyObject *aMethod, PyObject *aSelf, PyObject *aArgs)
{
    PyObject *bound = Py_TYPE(aMethod)->tp_descr_get(aMethod, aSelf, reinterpret_cast<PyObject *>(Py_TYPE(aSelf)));
    if (bound == NULL) {
        return NULL;
    }
    PyObject *result = PyObject_Call(bound, aArgs, NULL);
    Py_DECREF(bound);
    return result;
}

static PyObject *tn_pointer_own(PyObject *aSelf, PyObject *aArgs)
{
    PyObject *value = NULL;
    if (!PyArg_UnpackTuple(aArgs, "own", 0, 1, &value)) {
        return NULL;
    }
    if (value != NULL) {
        const int truth = PyObject_IsTrue(value);
        if (truth < 0 || (truth && tn_owning_refused(aSelf))) {
            return NULL;
        }
    }
    return tn_call_runtime(tn_runtime_own, aSelf, aArgs);
}

static PyObject *tn_pointer_acquire(PyObject *aSelf, PyObject *)
{
    if (tn_owning_refused(aSelf)) {
        return NULL;
    }
    PyObject *none = PyTuple_New(0);
    PyObject *result = none != NULL ? tn_call_runtime(tn_runtime_acquire, aSelf, none) : NULL;
    Py_XDECREF(none);
    return result;
}

static void tn_replace_owning(PyTypeObject *aType)
{
    static PyMethodDef own = {"own", tn_pointer_own, METH_VARARGS, tn_owning_doc};
    static PyMethodDef acquire = {"acquire", tn_pointer_acquire, METH_NOARGS, tn_owning_doc};
    PyObject *dictionary = aType->tp_dict;
    PyObject *current = dictionary != NULL ? PyDict_GetItemString(dictionary, "own") : NULL;
    if (current == NULL || !PyObject_TypeCheck(current, &PyMethodDescr_Type) ||
        reinterpret_cast<PyMethodDescrObject *>(current)->d_method->ml_doc == NULL ||
        strcmp(reinterpret_cast<PyMethodDescrObject *>(current)->d_method->ml_doc, tn_owning_doc) == 0) {
        return; // replaced by another module, or not the runtime's
    }
    PyObject *runtime_acquire = PyDict_GetItemString(dictionary, "acquire");
    PyObject *new_own = PyDescr_NewMethod(aType, &own);
    PyObject *new_acquire = PyDescr_NewMethod(aType, &acquire);
    if (runtime_acquire != NULL && new_own != NULL && new_acquire != NULL) {
        tn_runtime_own = current;
        tn_runtime_acquire = runtime_acquire;
        Py_INCREF(tn_runtime_own);
        Py_INCREF(tn_runtime_acquire);
        if (PyDict_SetItemString(dictionary, "own", new_own) == 0 &&
            PyDict_SetItemString(dictionary, "acquire", new_acquire) == 0) {
            PyType_Modified(aType);
        }
    }
    Py_XDECREF(new_own);
    Py_XDECREF(new_acquire);
    PyErr_Clear();
}

static void tn_lending_start(swig_module_info *aModule)
{
    swig_module_info *head = SWIG_GetModule(0);
    for (swig_module_info *module = head; module != NULL && tn_lending == NULL;) {
        TnLending *shared = static_cast<TnLending *>(module->clientdata);
        if (shared != NULL && memcmp(shared->mMagic, tn_lending_magic, sizeof(tn_lending_magic)) == 0 &&
            shared->mVersion == tn_lending_version) {
            tn_lending = shared;
        }
        module = module->next != head ? module->next : NULL;
    }
    if (tn_lending == NULL) {
        tn_lending_table = new TnLendingTable;
        static TnLending lending = {"", tn_lending_version, tn_lending_keep, tn_lending_kept, tn_lending_gone,
                                    tn_lending_hold, tn_lending_take, tn_lending_note, tn_lending_take_note,
                                    tn_lending_forget, tn_lending_holders, tn_lending_held_wrapping,
                                    tn_lending_keepers, tn_lending_move, tn_uses_new(),
                                    tn_lending_hold_replaceable, tn_lending_hold_as_lender};
        memcpy(lending.mMagic, tn_lending_magic, sizeof(tn_lending_magic));
        tn_lending = &lending;
    }
    aModule->clientdata = tn_lending;
    PyTypeObject *type = SwigPyObject_type();
    if (type != NULL && type->tp_dealloc != tn_pointer_dealloc) {
        tn_pointer_dealloc_of_runtime = type->tp_dealloc;
        type->tp_dealloc = tn_pointer_dealloc;
    }
    if (type != NULL) {
        tn_replace_owning(type);
    }
}

/* The pointer object of aObject (itself, or the "this" of a proxy), found
 * without running Python code; null for anything else. */
static PyObject *tn_pointer_of(PyObject *aObject)
{
    if (aObject == NULL || aObject == Py_None) {
        return NULL;
    }
    PyTypeObject *own = SwigPyObject_type();
    if (Py_TYPE(aObject) == own) {
        return aObject;
    }
    PyObject **dictionary = _PyObject_GetDictPtr(aObject);
    if (dictionary == NULL || *dictionary == NULL) {
        return SwigPyObject_Check(aObject) ? aObject : NULL; // another module's
    }
    PyObject *pointer = PyDict_GetItem(*dictionary, SWIG_This());
    return pointer != NULL && (Py_TYPE(pointer) == own || SwigPyObject_Check(pointer)) ? pointer : NULL;
}

/* The anchor of the pointer object aPointer (or null). */
static PyObject *tn_anchor_of_pointer(PyObject *aPointer)
{
    PyObject *pointer = aPointer;
    if (pointer == NULL || tn_lending == NULL) {
        return pointer;
    }
    if (reinterpret_cast<SwigPyObject *>(pointer)->own & SWIG_POINTER_OWN) {
        return pointer;
    }
    PyObject *kept = tn_lending->mKept(pointer);
    return kept != NULL ? kept : pointer;
}

/* The anchor of aObject: what keeps its SDK object alive (borrowed), or
 * null when aObject is no wrapped object. */
static PyObject *tn_anchor(PyObject *aObject)
{
    return tn_anchor_of_pointer(tn_pointer_of(aObject));
}

/* aResult (a proxy or pointer object just made) keeps aAnchor. */
static void tn_keep_anchor(PyObject *aResult, PyObject *aAnchor)
{
    PyObject *pointer = tn_pointer_of(aResult);
    if (pointer != NULL && aAnchor != NULL && pointer != aAnchor && tn_lending != NULL) {
        tn_lending->mKeep(pointer, aAnchor);
    }
}

/* aResult keeps what keeps aOwner alive. */
static void tn_keep_owner(PyObject *aResult, PyObject *aOwner)
{
    tn_keep_anchor(aResult, tn_anchor(aOwner));
}

/* aHolder (an SDK object) keeps the owner of aObject in aSlot, in place of
 * what it kept there; None or an object that wraps nothing only ends that. */
static void tn_hold(const void *aHolder, const void *aSlot, PyObject *aObject)
{
    if (tn_lending != NULL) {
        tn_lending->mHold(aHolder, aSlot, tn_anchor(aObject));
    }
}

/* What aHolder kept in aSlot, now the caller's reference, or null. */
static PyObject *tn_take_held(const void *aHolder, const void *aSlot)
{
    return tn_lending != NULL ? tn_lending->mTake(aHolder, aSlot) : NULL;
}

/* aHolder notes the owner of aObject in aSlot (without keeping it). */
static void tn_note(const void *aHolder, const void *aSlot, PyObject *aObject)
{
    if (tn_lending != NULL) {
        tn_lending->mNote(aHolder, aSlot, tn_anchor(aObject));
    }
}

/* The owner aHolder noted in aSlot (borrowed; the note ends), provided it
 * still wraps aPointer; else null. */
static PyObject *tn_take_note(const void *aHolder, const void *aSlot, const void *aPointer)
{
    PyObject *noted = tn_lending != NULL ? tn_lending->mTakeNote(aHolder, aSlot) : NULL;
    return noted != NULL && reinterpret_cast<SwigPyObject *>(noted)->ptr == aPointer ? noted : NULL;
}

/* An object that an SDK holder keeps, of which aPointer is the address
 * (borrowed), or null: the owner of what the holder hands to Python. */
static PyObject *tn_held_wrapping(const void *aPointer)
{
    return tn_lending != NULL && aPointer != NULL ? tn_lending->mHeldWrapping(aPointer) : NULL;
}

/* aResult (a proxy just handed out) holds aObject, an object that its owner
 * may replace by another (a controller's parameter array at a reconnect, a
 * software device's register map at a restart), and so does every object
 * handed out from it, and from those: the owner keeps the object it
 * replaced until the last of them goes (TnHeldObjects.h). */
static void tn_hold_replaceable(PyObject *aResult, const void *aObject)
{
    PyObject *pointer = tn_pointer_of(aResult);
    if (pointer != NULL && aObject != NULL && tn_lending != NULL) {
        tn_lending->mHoldReplaceable(pointer, aObject);
    }
}

/* aHolder, destroyed, keeps and notes nothing any more. */
static void tn_forget_holder(const void *aHolder)
{
    if (tn_lending != NULL) {
        tn_lending->mForget(aHolder);
    }
}

/* Explicit destruction of aObject (converted by a delete_ function, which
 * cleared its ownership, or by a factory's Free): true when it is not to be
 * destroyed now. One that calls in progress use waits for them
 * (tn_uses_destruction_deferred). When an SDK holder keeps its object, a new
 * pointer object of its type takes the object over with every reference
 * kept on aObject, and aObject is emptied. Else the proxies that keep it are
 * emptied, and it is destroyed. A type whose objects nothing could destroy
 * later (no proxy class with a destroy function), and a proxy holding
 * several pointer objects, are destroyed now, as before. */
static bool tn_destruction_deferred(PyObject *aObject)
{
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(tn_pointer_of(aObject));
    if (pointer == NULL || pointer->ptr == NULL || pointer->own != 0 || tn_lending == NULL) {
        return false;
    }
    PyObject *object = reinterpret_cast<PyObject *>(pointer);
    if (tn_uses_destruction_deferred(object)) {
        return true;
    }
    if (pointer->next != NULL) {
        return false;
    }
    const SwigPyClientData *data =
        pointer->ty != NULL ? static_cast<const SwigPyClientData *>(pointer->ty->clientdata) : NULL;
    if (tn_lending->mHolders(object) == 0 || data == NULL || data->destroy == NULL) {
        // Proxies that keep it hold references to it: nothing to empty when
        // nothing but its caller's proxy refers to it (or when it goes with
        // its last reference).
        if (Py_REFCNT(object) <= 1) {
            return false;
        }
        std::vector<PyObject *> keepers;
        tn_lending->mKeepers(object, keepers);
        for (PyObject *keeper : keepers) {
            SwigPyObject *kept = reinterpret_cast<SwigPyObject *>(keeper);
            if (!(kept->own & SWIG_POINTER_OWN)) {
                kept->ptr = NULL;
            }
        }
        return false;
    }
    PyObject *keeper = SwigPyObject_New(pointer->ptr, pointer->ty, SWIG_POINTER_OWN);
    if (keeper == NULL) {
        PyErr_Clear();
        return false;
    }
    tn_lending->mMove(object, keeper);
    Py_DECREF(keeper);
    pointer->ptr = NULL;
    return true;
}

/* A proxy handed out by a method of the proxy aLender keeps aLender too, as
 * its attribute _tn_owner, when aLender carries something of Python's own
 * (attributes beside "this" and its own _tn_owner: the sources a device's
 * proxy keeps; or the methods of a Python subclass): that lives as long as
 * the SDK object does, and the collector sees the reference. A proxy class
 * that sets its attributes its own way does without. */
static void tn_keep_proxy(PyObject *aProxy, PyObject *aLender, PyObject *aLenderPointer)
{
    static PyObject *name = NULL;
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(aLenderPointer);
    PyObject **dictionary = aLender != aLenderPointer ? _PyObject_GetDictPtr(aLender) : NULL;
    if (pointer == NULL || dictionary == NULL || *dictionary == NULL ||
        Py_TYPE(aProxy)->tp_setattro != PyObject_GenericSetAttr) {
        return;
    }
    PyObject *pending = PyErr_GetRaisedException();
    if (name == NULL) {
        name = PyUnicode_InternFromString("_tn_owner");
    }
    const SwigPyClientData *data =
        pointer->ty != NULL ? static_cast<const SwigPyClientData *>(pointer->ty->clientdata) : NULL;
    const Py_ssize_t plain = name != NULL && PyDict_GetItem(*dictionary, name) != NULL ? 2 : 1;
    if (name != NULL && (PyDict_GET_SIZE(*dictionary) > plain || data == NULL ||
                         reinterpret_cast<PyObject *>(Py_TYPE(aLender)) != data->klass)) {
        PyObject_SetAttr(aProxy, name, aLender);
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
}

/* A new pointer object for aPointer, wrapped in its proxy class; one that
 * does not own its object keeps the anchor of aLender (the `self` of the
 * method that hands it out, null for none). */
static PyObject *tn_new_pointer_obj(PyObject *aLender, void *aPointer, swig_type_info *aType, int aFlags)
{
    SwigPyClientData *data = aType != NULL ? static_cast<SwigPyClientData *>(aType->clientdata) : NULL;
    if (aPointer == NULL) {
        return SWIG_Py_Void();
    }
    if ((data != NULL && data->pytype != NULL) || (aFlags & SWIG_BUILTIN_TP_INIT) != 0) {
        return tn_runtime_new_pointer_obj(NULL, aPointer, aType, aFlags);
    }
    const bool owned = (aFlags & SWIG_POINTER_OWN) != 0;
    PyObject *lender = !owned && aLender != NULL ? tn_pointer_of(aLender) : NULL;
    if (!owned && tn_uses_any_held() && tn_uses_hands_out_destroyed(aPointer, lender)) {
        aPointer = NULL; // an object destroyed during the call: refused from now on
    }
    PyObject *pointer = SwigPyObject_New(aPointer, aType, owned ? SWIG_POINTER_OWN : 0);
    if (pointer == NULL) {
        return NULL;
    }
    PyObject *anchor = tn_anchor_of_pointer(lender);
    if (anchor != NULL && tn_lending != NULL) {
        tn_lending->mKeep(pointer, anchor);
    }
    if (lender != NULL && tn_lending != NULL) {
        tn_lending->mHoldAsLender(pointer, lender);
    }
    if (data == NULL || (aFlags & SWIG_POINTER_NOSHADOW) != 0) {
        return pointer;
    }
    PyObject *instance = tn_wrap_pointer_obj(data, pointer);
    Py_DECREF(pointer);
    if (instance != NULL && lender != NULL) {
        tn_keep_proxy(instance, aLender, lender);
    }
    return instance;
}

/* Wrappers of methods know their `self` as the local tnlender1 (set by the
 * `self` typemaps); everywhere else this one, which lends nothing, is seen. */
static PyObject *const tnlender1 = NULL;
#undef SWIG_NewPointerObj
#define SWIG_NewPointerObj(ptr, type, flags) tn_new_pointer_obj(tnlender1, ptr, type, flags)
%}

%init %{
    tn_lending_start(&swig_module);
%}

/* A factory's Free of a TYPE NAME that it made: the object released leaves
 * its proxy empty, so that the proxy refuses further calls as None would,
 * and so do the proxies of what it handed out; it holds nothing any more.
 * (Free leaves objects that Python owns alone, and so does this.) */
%define TN_FREED_BY_FACTORY(TYPE, NAME)
%typemap(in) TYPE *NAME (void *argp = 0, int res = 0, int owned = 0) {
    res = SWIG_ConvertPtrAndOwn($input, &argp, $descriptor, 0, &owned);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    $1 = %reinterpret_cast(argp, $ltype);
    if ($1 != NULL && !(owned & SWIG_POINTER_OWN) && tn_destruction_deferred($input)) {
        $1 = NULL;
    }
}
%typemap(argout) TYPE *NAME {
    if ($1 != NULL && !(owned$argnum & SWIG_POINTER_OWN)) {
        SWIG_ConvertPtr($input, 0, $descriptor, SWIG_POINTER_CLEAR);
        tn_forget_holder($1);
    }
}
%enddef

/* CLASS, destroyed, holds nothing any more under KEY (its address as the
 * holder's calls gave it). */
%define TN_LENDING_HOLDER(CLASS, KEY)
%exception CLASS::~CLASS {
    TN_GUARDED_ACTION
    tn_forget_holder(KEY);
}
%enddef
