#include "browser/WindowMenuBarBase.h"

#include <cctype>
#include <stdexcept>

namespace ferrovan {

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000;

std::uint32_t mapChannels(std::uint32_t colour, int (*map)(int channel))
{
    std::uint32_t mapped = kOpaque;
    for (int shift : {16, 8, 0})
        mapped |= static_cast<std::uint32_t>(map((colour >> shift) & 0xFF)) << shift;
    return mapped;
}

int accentChannel(int channel)
{
    return channel > 126 ? channel - 75 : channel + 75;
}

int invertedChannel(int channel)
{
    return 255 - channel;
}

} // namespace

WindowMenuBarBase::WindowMenuBarBase(ICallback& callback, int firstMenuIndex)
    : m_callback(callback), m_firstIndex(firstMenuIndex)
{
}

int WindowMenuBarBase::createMenu(const std::string& label)
{
    const int index = m_firstIndex + static_cast<int>(m_menus.size());
    m_menus.push_back(Menu{index, label, {}});
    const char key = mnemonicOf(label);
    if (key != '\0')
        m_mnemonics.emplace(key, index);
    return index;
}

void WindowMenuBarBase::addItem(int menuIndex, int commandId, const std::string& label)
{
    menuAt(menuIndex).items.push_back(Item{ItemType::Plain, commandId, label, false});
}

void WindowMenuBarBase::addCheckItem(int menuIndex, int commandId, const std::string& label)
{
    menuAt(menuIndex).items.push_back(Item{ItemType::Check, commandId, label, false});
}

void WindowMenuBarBase::addSeparator(int menuIndex)
{
    menuAt(menuIndex).items.push_back(Item{ItemType::Separator, 0, std::string(), false});
}

int WindowMenuBarBase::menuForMnemonic(char key) const
{
    const auto found = m_mnemonics.find(static_cast<char>(std::tolower(static_cast<unsigned char>(key))));
    return found != m_mnemonics.end() ? found->second : -1;
}

void WindowMenuBarBase::executeCommand(int menuIndex, int commandId)
{
    Menu* menu = findMenu(menuIndex);
    if (menu == nullptr)
        return;
    for (Item& item : menu->items) {
        if (item.type == ItemType::Separator || item.commandId != commandId)
            continue;
        if (item.type == ItemType::Check)
            item.checked = !item.checked;
        m_callback.onMenuCommand(*menu, commandId);
        return;
    }
}

char WindowMenuBarBase::mnemonicOf(const std::string& label)
{
    for (std::size_t i = 0; i + 1 < label.size(); ++i) {
        if (label[i] != '&')
            continue;
        if (label[i + 1] != '&')
            return static_cast<char>(std::tolower(static_cast<unsigned char>(label[i + 1])));
        ++i; // "&&" is a literal "&", never a marker
    }
    return '\0';
}

MenuColours WindowMenuBarBase::coloursFor(std::uint32_t base)
{
    MenuColours colours;
    colours.base = base | kOpaque;
    colours.accent = mapChannels(base, &accentChannel);
    colours.text = mapChannels(base, &invertedChannel);
    return colours;
}

const MenuColours& WindowMenuBarBase::colours()
{
    static const MenuColours computed = coloursFor(kBaseColour);
    return computed;
}

WindowMenuBarBase::Menu* WindowMenuBarBase::findMenu(int menuIndex)
{
    const int position = menuIndex - m_firstIndex;
    if (position < 0 || position >= static_cast<int>(m_menus.size()))
        return nullptr;
    return &m_menus[position];
}

WindowMenuBarBase::Menu& WindowMenuBarBase::menuAt(int menuIndex)
{
    Menu* menu = findMenu(menuIndex);
    if (menu == nullptr)
        throw std::out_of_range("no menu " + std::to_string(menuIndex) + " in the bar");
    return *menu;
}

} // namespace ferrovan
