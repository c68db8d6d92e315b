// Skins: the `skinlist` list tag and its item tags, and `inifile`, which reads the skin's skin.ini.

#include "core/inifile.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "core/text.h"
#include "pageproducer/tags.h"
#include "player/player.h"
#include "settings/skins.h"

namespace qf {
namespace {

void SkinList(Tag& tag) {
  RefreshSkins(tag.Core());
  ListTemplates templates(tag);
  if (!templates.LoadItemTemplate()) return;
  Snapshot<SortedTextList> skins = tag.Core().SkinNames.Get();  // held while it is read
  for (const std::string& skin : *skins) {
    tag.Session().ItemPath = skin;
    templates.AppendItem();
  }
}

void SkinName(Tag& tag) { tag.Write(tag.Session().ItemPath, kTextOptions); }
void SkinEncName(Tag& tag) { tag.output = UrlEncode(tag.Session().ItemPath); }

void IniFileTag(Tag& tag) {
  if (!tag.Given("Section")) return tag.Fail("Section not specified");
  if (!tag.Given("Key")) return tag.Fail("Key not specified");
  const IniFile& ini = tag.producer.SkinIni();
  std::string value = ini.ReadString(tag.Param("Section"), tag.Param("Key"), tag.Param("default")).substr(0, 2047);
  value = ApplyOptions(std::move(value), tag.params, kMaxLength);
  if (tag.Given("parse")) {
    if (!tag.producer.MayNest()) return tag.Fail("nesting too deep");
    value = tag.producer.Child().Produce(value);
  }
  tag.Write(std::move(value), kUrlEncoded | kEscape);
}

}  // namespace

void AddSkinTags(TagTable& table) {
  table["skinlist"] = SkinList;
  table["skin_name"] = SkinName;
  table["skin_enc_name"] = SkinEncName;
  table["inifile"] = IniFileTag;
}

}  // namespace qf
