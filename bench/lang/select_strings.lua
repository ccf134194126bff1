local function select_(b, k)
  for i = 1, #b, 2 do if b[i] == k then return b[i + 1] end end
  return nil
end
local function main(n)
  local pairs = {}
  for i = 0, 299 do pairs[#pairs + 1] = "key" .. i; pairs[#pairs + 1] = "value" .. i end
  local total = 0
  for i = 0, n - 1 do
    local v = select_(pairs, "key" .. ((i * 13) % 400))
    if v then total = total + #v end
  end
  return total
end
print(main(150000))
